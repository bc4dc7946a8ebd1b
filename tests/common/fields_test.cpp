// The field helpers, called directly on real Java objects. Built into each SNA bridge's test
// executable with that bridge's variant of the helpers.
#include <cstring>

#include "jni_fields.h"
#include "jvm_test.h"

using namespace jvmtest;

namespace {

class FieldsTest : public JvmTest {
protected:
    void SetUp() override {
        JvmTest::SetUp();
        probe = newObject("com/zanvor/kelvra/testsupport/FieldProbe");
    }
    jobject probe = nullptr;
};

TEST_F(FieldsTest, ScalarsRoundTripThroughEachType) {
    {
        NativeCallScope scope(env());
        mySetIntField(env(), probe, "count", -123456);
        mySetCharField(env(), probe, "letter", 0xABCD);
        mySetDoubleField(env(), probe, "amount", 4294967295.0);
        mySetBooleanField(env(), probe, "flag", 1);
        EXPECT_EQ(myGetIntField(env(), probe, "count"), -123456);
        EXPECT_EQ(myGetCharField(env(), probe, "letter"), 0xABCD); // all 16 bits kept
        EXPECT_EQ(myGetDoubleField(env(), probe, "amount"), 4294967295.0);
        EXPECT_EQ(myGetBooleanField(env(), probe, "flag"), JNI_TRUE);
    }
    EXPECT_EQ(takeException(), "");
}

// The VM keeps only the low bit of a stored boolean: any non-zero value must arrive as true.
TEST_F(FieldsTest, NonZeroBooleansAreStoredAsTrue) {
    for (jboolean value : {jboolean{2}, jboolean{3}, jboolean{0x0C}, jboolean{0xF0}}) {
        setBoolean(probe, "flag", JNI_FALSE);
        {
            NativeCallScope scope(env());
            mySetBooleanField(env(), probe, "flag", value);
        }
        EXPECT_EQ(getBoolean(probe, "flag"), JNI_TRUE) << "value " << int(value);
    }
}

// A missing field reads as zero, changes nothing, and its lookup error reaches the caller
// once the native returns, after every later helper still ran.
TEST_F(FieldsTest, MissingFieldsReadAsZeroAndTheFirstErrorIsRaisedAtTheEnd) {
    setInt(probe, "count", 7);
    {
        NativeCallScope scope(env());
        EXPECT_EQ(myGetIntField(env(), probe, "noSuchInt"), 0);
        EXPECT_EQ(myGetBooleanField(env(), probe, "noSuchFlag"), JNI_FALSE);
        EXPECT_EQ(myGetDoubleField(env(), probe, "count"), 0.0); // wrong signature
        EXPECT_EQ(myGetCharField(env(), probe, "noSuchChar"), 0);
        mySetIntField(env(), probe, "noSuchInt", 5);
        mySetIntField(env(), probe, "count", 8); // still done after the failed lookups
        unsigned char buffer[4] = {9, 9, 9, 9};
        myGetCharArray(env(), probe, "noSuchArray", buffer, sizeof buffer);
        EXPECT_EQ(buffer[0], 9);
    }
    EXPECT_EQ(takeException(), "java.lang.NoSuchFieldError");
    EXPECT_EQ(getInt(probe, "count"), 8);
}

TEST_F(FieldsTest, CharArrayReadKeepsLowBytesAndRespectsTheCapacity) {
    struct Case {
        std::vector<jchar> chars;
        std::size_t capacity;
        std::vector<unsigned char> expected; // buffer of 6 bytes, pre-filled with 0xEE
    };
    const Case cases[] = {
        {{0x0041, 0x0141, 0x00FF}, 6, {0x41, 0x41, 0xFF, 0xEE, 0xEE, 0xEE}},
        {{}, 6, {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}},
        {{1, 2, 3, 4, 5, 6, 7, 8}, 4, {1, 2, 3, 4, 0xEE, 0xEE}}, // surplus cut, never an overrun
    };
    for (const Case &c : cases) {
        setChars(probe, "data", c.chars);
        std::vector<unsigned char> buffer(6, 0xEE);
        {
            NativeCallScope scope(env());
            myGetCharArray(env(), probe, "data", buffer.data(), c.capacity);
        }
        EXPECT_EQ(buffer, c.expected);
    }
    setCharsNull(probe, "data");
    std::vector<unsigned char> buffer(6, 0xEE);
    {
        NativeCallScope scope(env());
        myGetCharArray(env(), probe, "data", buffer.data(), buffer.size());
    }
    EXPECT_EQ(buffer, std::vector<unsigned char>(6, 0xEE));
    EXPECT_EQ(takeException(), "");
}

TEST_F(FieldsTest, CharArrayWriteWidensBytesIntoTheExistingArray) {
    setChars(probe, "data", std::vector<jchar>(10, 'x'));
    const unsigned char bytes[] = {0x80, 0xFF, 0x00};
    {
        NativeCallScope scope(env());
        mySetCharArray(env(), probe, "data", 3, bytes);
    }
    std::vector<jchar> expected(10, 'x');
    expected[0] = 0x0080;
    expected[1] = 0x00FF;
    expected[2] = 0x0000;
    EXPECT_EQ(getChars(probe, "data"), expected);
}

TEST_F(FieldsTest, CharArrayWriteOfNothingLooksNothingUp) {
    const unsigned char bytes[] = {1};
    {
        NativeCallScope scope(env());
        mySetCharArray(env(), probe, "noSuchArray", 0, bytes);
        setCharsNull(probe, "data");
        mySetCharArray(env(), probe, "data", 1, bytes); // null array: nothing written
    }
    EXPECT_EQ(takeException(), "");
    EXPECT_TRUE(charsIsNull(probe, "data"));
}

#ifdef BRIDGE_CPIC
// The conversation bridge reports a write past the array's end on standard output and
// describes the exception, which leaves nothing pending.
TEST_F(FieldsTest, CharArrayOverrunIsReportedAndDescribed) {
    setChars(probe, "data", std::vector<jchar>(2, 'x'));
    const unsigned char bytes[] = {1, 2, 3};
    StdoutCapture out;
    {
        NativeCallScope scope(env());
        mySetCharArray(env(), probe, "data", 3, bytes);
    }
    EXPECT_EQ(out.finish(), "Exception occurred SetCharArray \n");
    EXPECT_EQ(takeException(), "");
    EXPECT_EQ(getChars(probe, "data"), std::vector<jchar>(2, 'x'));
}

// Names go through 50-byte buffers: a longer name is refused like a missing field.
TEST_F(FieldsTest, NamesThatDoNotFitTheLookupBufferAreMissingFields) {
    const std::string longName(50, 'a');
    {
        NativeCallScope scope(env());
        EXPECT_EQ(myGetIntField(env(), probe, longName.c_str()), 0);
        EXPECT_EQ(myGetIntField(env(), probe, std::string(49, 'a').c_str()), 0);
    }
    EXPECT_EQ(takeException(), "java.lang.NoSuchFieldError");
}
#else
TEST_F(FieldsTest, CharArrayOverrunStaysPendingForTheCaller) {
    setChars(probe, "data", std::vector<jchar>(2, 'x'));
    const unsigned char bytes[] = {1, 2, 3};
    StdoutCapture out;
    {
        NativeCallScope scope(env());
        mySetCharArray(env(), probe, "data", 3, bytes);
    }
    EXPECT_EQ(out.finish(), "");
    EXPECT_EQ(takeException(), "java.lang.ArrayIndexOutOfBoundsException");
}
#endif

} // namespace
