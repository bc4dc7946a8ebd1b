// Record converters and width conversions, called directly on real Java objects.
#include <cmath>
#include <cstring>
#include <limits>

#include "com_zanvor_kelvra_services_comms_Lu0Wrapper.h"
#include "jvm_test.h"

using namespace jvmtest;

namespace {

template <typename T> std::vector<unsigned char> bytesOf(const T &value) {
    std::vector<unsigned char> b(sizeof value);
    std::memcpy(b.data(), &value, sizeof value);
    return b;
}

template <typename T> T fromBytes(std::vector<unsigned char> b) {
    T value;
    std::memcpy(&value, b.data(), sizeof value);
    return value;
}

class ConvertersTest : public JvmTest {
protected:
    jobject fresh(const char *cls) { return newObject((std::string("com/zanvor/kelvra/services/comms/") + cls).c_str()); }
};

struct BitCase {
    const char *field;
    std::size_t byte;
    unsigned char mask;
};

const BitCase kFlag1Bits[] = {{"lu_norm", 0, 0x01}, {"lu_exp", 0, 0x02},      {"sscp_norm", 0, 0x04}, {"sscp_exp", 0, 0x08},
                              {"nowait", 0, 0x10},  {"close_abend", 0, 0x20}, {"bid_enable", 0, 0x80}};
const BitCase kFlag2Bits[] = {{"lu_norm", 0, 0x01},   {"lu_exp", 0, 0x02}, {"sscp_norm", 0, 0x04},
                              {"sscp_exp", 0, 0x08}, {"async", 0, 0x40},  {"bid_enable", 0, 0x80}};
const BitCase kRhBits[] = {{"eci", 0, 0x01}, {"bci", 0, 0x02},  {"sdi", 0, 0x04},  {"fi", 0, 0x08},
                           {"rri", 0, 0x80}, {"pi", 1, 0x01},   {"qri", 1, 0x02},  {"ri", 1, 0x10},
                           {"dr2i", 1, 0x20}, {"dr1i", 1, 0x80}, {"pdi", 2, 0x02}, {"edi", 2, 0x04},
                           {"csi", 2, 0x08}, {"cdi", 2, 0x20},  {"ebi", 2, 0x40},  {"bbi", 2, 0x80}};
const BitCase kThBits[] = {{"flags_efi", 0, 0x01}, {"flags_odai", 0, 0x02}};

TEST_F(ConvertersTest, EachJavaIndicatorSetsExactlyItsBit) {
    NativeCallScope scope(env());
    for (const BitCase &b : kFlag1Bits) {
        jobject f = fresh("LuaFlag1");
        setBoolean(f, b.field, JNI_TRUE);
        std::vector<unsigned char> expected(1, 0);
        expected[b.byte] = b.mask;
        EXPECT_EQ(bytesOf(get_struct_lua_flag1(env(), f)), expected) << b.field;
    }
    for (const BitCase &b : kRhBits) {
        jobject r = fresh("LuaRH");
        setBoolean(r, b.field, JNI_TRUE);
        std::vector<unsigned char> expected(3, 0);
        expected[b.byte] = b.mask;
        EXPECT_EQ(bytesOf(get_struct_lua_rh(env(), r)), expected) << b.field;
    }
    for (const BitCase &b : kThBits) {
        jobject t = fresh("LuaTH");
        setBoolean(t, b.field, JNI_TRUE);
        std::vector<unsigned char> expected(6, 0);
        expected[b.byte] = b.mask;
        EXPECT_EQ(bytesOf(get_struct_lua_th(env(), t)), expected) << b.field;
    }
}

TEST_F(ConvertersTest, EachRecordBitReachesExactlyItsJavaField) {
    NativeCallScope scope(env());
    auto check = [&](const char *cls, const BitCase *cases, std::size_t n, std::size_t size, auto convert) {
        for (std::size_t i = 0; i < n; ++i) {
            jobject obj = fresh(cls);
            std::vector<unsigned char> record(size, 0);
            record[cases[i].byte] = cases[i].mask;
            convert(obj, record);
            for (std::size_t j = 0; j < n; ++j)
                EXPECT_EQ(getBoolean(obj, cases[j].field), i == j ? JNI_TRUE : JNI_FALSE)
                    << cls << " bit of " << cases[i].field << " seen in " << cases[j].field;
        }
    };
    check("LuaFlag2", kFlag2Bits, std::size(kFlag2Bits), 1,
          [&](jobject o, auto r) { set_struct_lua_flag2(env(), o, fromBytes<LUA_FLAG2>(r)); });
    check("LuaRH", kRhBits, std::size(kRhBits), 3, [&](jobject o, auto r) { set_struct_lua_rh(env(), o, fromBytes<LUA_RH>(r)); });
    check("LuaTH", kThBits, std::size(kThBits), 6, [&](jobject o, auto r) { set_struct_lua_th(env(), o, fromBytes<LUA_TH>(r)); });
}

TEST_F(ConvertersTest, WholeBytesAndMultiBitValues) {
    NativeCallScope scope(env());
    jobject f1 = fresh("LuaFlag1");
    for (const BitCase &b : kFlag1Bits) setBoolean(f1, b.field, JNI_TRUE);
    EXPECT_EQ(bytesOf(get_struct_lua_flag1(env(), f1)), std::vector<unsigned char>{0xBF}); // bit 6 stays clear
    EXPECT_EQ(bytesOf(get_struct_lua_flag1(env(), fresh("LuaFlag1"))), std::vector<unsigned char>{0x00});

    jobject f2 = fresh("LuaFlag2");
    set_struct_lua_flag2(env(), f2, fromBytes<LUA_FLAG2>({0xFF}));
    for (const BitCase &b : kFlag2Bits) EXPECT_EQ(getBoolean(f2, b.field), JNI_TRUE) << b.field;
    set_struct_lua_flag2(env(), f2, fromBytes<LUA_FLAG2>({0x30})); // bits 4-5 reach no field
    for (const BitCase &b : kFlag2Bits) EXPECT_EQ(getBoolean(f2, b.field), JNI_FALSE) << b.field;

    // ruc is a 2-bit value, masked on the way to the record.
    for (jchar ruc : {jchar{3}, jchar{7}}) {
        jobject r = fresh("LuaRH");
        setChar(r, "ruc", ruc);
        EXPECT_EQ(bytesOf(get_struct_lua_rh(env(), r)), (std::vector<unsigned char>{0x60, 0x00, 0x00}));
    }
    jobject r = fresh("LuaRH");
    set_struct_lua_rh(env(), r, fromBytes<LUA_RH>({0x40, 0x00, 0x00}));
    EXPECT_EQ(getChar(r, "ruc"), 2);

    // The multi-bit TH values travel as booleans: true whenever non-zero.
    jobject th = fresh("LuaTH");
    set_struct_lua_th(env(), th, fromBytes<LUA_TH>({0x2C, 0x00, 0xC1, 0x05, 0x12, 0x34}));
    EXPECT_EQ(getBoolean(th, "flags_fid"), JNI_TRUE);
    EXPECT_EQ(getBoolean(th, "flags_mpf"), JNI_TRUE);
    EXPECT_EQ(getBoolean(th, "flags_odai"), JNI_FALSE);
    EXPECT_EQ(getBoolean(th, "flags_efi"), JNI_FALSE);
    EXPECT_EQ(getChar(th, "daf"), 0xC1);
    EXPECT_EQ(getChar(th, "oaf"), 0x05);
    EXPECT_EQ(getChars(th, "snf"), (std::vector<jchar>{0x12, 0x34}));

    jobject toRecord = fresh("LuaTH");
    setBoolean(toRecord, "flags_mpf", JNI_TRUE);
    setBoolean(toRecord, "flags_fid", JNI_TRUE);
    setChar(toRecord, "daf", 0x1C1);
    setChar(toRecord, "oaf", 0x0007);
    setChars(toRecord, "snf", {0x0141, 0x0002, 0x0099}); // the third element does not fit
    EXPECT_EQ(bytesOf(get_struct_lua_th(env(), toRecord)),
              (std::vector<unsigned char>{0x14, 0x00, 0xC1, 0x07, 0x41, 0x02}));
}

TEST_F(ConvertersTest, NullSnfStaysZeroAndStaysNull) {
    jobject th = fresh("LuaTH");
    setCharsNull(th, "snf");
    {
        NativeCallScope scope(env());
        EXPECT_EQ(bytesOf(get_struct_lua_th(env(), th))[4], 0);
        set_struct_lua_th(env(), th, fromBytes<LUA_TH>({0, 0, 0, 0, 9, 9}));
    }
    EXPECT_EQ(takeException(), "");
    EXPECT_TRUE(charsIsNull(th, "snf"));
}

TEST_F(ConvertersTest, ShortSnfLeavesTheBoundsErrorPending) {
    jobject th = fresh("LuaTH");
    setChars(th, "snf", {0});
    {
        NativeCallScope scope(env());
        set_struct_lua_th(env(), th, fromBytes<LUA_TH>({0, 0, 0, 0, 9, 9}));
    }
    EXPECT_EQ(takeException(), "java.lang.ArrayIndexOutOfBoundsException");
}

TEST(WidthConversions, DoubleToThirtyTwoBits) {
    const std::pair<double, uint32_t> cases[] = {
        {-1.0, 0xFFFFFFFFu}, {4294967295.0, 0xFFFFFFFFu}, {1.9, 1u},           {-1.5, 0xFFFFFFFFu},
        {4294967296.0, 0u},  {4294967297.0, 1u},          {1e20, 0x63100000u}, {0.0, 0u},
        {std::numeric_limits<double>::quiet_NaN(), 0u},   {std::numeric_limits<double>::infinity(), 0u},
    };
    for (const auto &[value, expected] : cases) EXPECT_EQ(doubleToRecord32(value), expected) << value;
}

TEST(WidthConversions, IntToSixteenBits) {
    const std::pair<jint, uint16_t> cases[] = {{70000, 4464}, {-1, 65535}, {65535, 65535}, {65536, 0}, {12, 12}};
    for (const auto &[value, expected] : cases) EXPECT_EQ(intToRecord16(value), expected) << value;
}

} // namespace
