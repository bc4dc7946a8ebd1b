// Conversation data natives: send, receive, confirm and send-error through a message object.
#include <atomic>
#include <thread>

#include "cpic_fixture.h"

using namespace jvmtest;

namespace {

// A partner that waits for the turn, then sends the given records and gives the turn back.
void definePartnerSending(const char *tp, const std::vector<std::vector<unsigned char>> &records) {
    std::vector<CpicPartnerStep> steps;
    steps.push_back({CPIC_STEP_WAIT_TURN, nullptr, 0});
    for (const auto &r : records) steps.push_back({CPIC_STEP_SEND, r.data(), static_cast<CM_INT32>(r.size())});
    steps.push_back({CPIC_STEP_GIVE_TURN, nullptr, 0});
    steps.push_back({CPIC_STEP_WAIT_TURN, nullptr, 0});
    cpicCtl_DefinePartner(tp, steps.data(), static_cast<int>(steps.size()));
    cpicCtl_DefineSideInfo("SCRIPTED", tp);
}

std::vector<unsigned char> bytes(const std::string &text) { return {text.begin(), text.end()}; }

TEST_F(CpicTest, WholeEchoConversation) {
    allocate();
    jobject out = message(5, chars("HELLO"));
    setBoolean(out, "fieldRequestToSendReceived", JNI_TRUE);
    ASSERT_EQ(callWith("CPIC_Send_Data", out), CM_OK);
    EXPECT_EQ(getBoolean(out, "fieldRequestToSendReceived"), JNI_FALSE);
    EXPECT_EQ(bytesOf(calls("cmsend").at(0)), bytes("HELLO"));

    jobject in = message(64, std::vector<jchar>(64, '.'));
    ASSERT_EQ(callWith("CPIC_Receive", in), CM_OK);
    EXPECT_EQ(getInt(in, "fieldReceivedLength"), 5);
    EXPECT_EQ(getInt(in, "fieldDataReceivedType"), CM_COMPLETE_DATA_RECEIVED);
    std::vector<jchar> expected = chars("HELLO");
    expected.resize(64, '.');
    EXPECT_EQ(getChars(in, "fieldBuffer"), expected);
    if (getInt(in, "fieldStatusReceived") != CM_SEND_RECEIVED) {
        ASSERT_EQ(callWith("CPIC_Receive", in), CM_OK);
        EXPECT_EQ(getInt(in, "fieldReceivedLength"), 0);
    }
    EXPECT_EQ(getInt(in, "fieldStatusReceived"), CM_SEND_RECEIVED);
    EXPECT_EQ(call("CPIC_Deallocate"), CM_OK);
    EXPECT_EQ(cpicCtl_ConversationCount(), 0);
}

// How much of a record reaches Java, by the size of the record against the request.
TEST_F(CpicTest, ReceiveCopiesWhatArrivedAndKeepsTheRestOfTheArray) {
    struct Case {
        std::vector<unsigned char> record;
        int requested;
        int arrayLength;
        int expectedLength;
        CM_INT32 expectedDataType;
    };
    const Case cases[] = {
        {bytes("ABCDE"), 100, 100, 5, CM_COMPLETE_DATA_RECEIVED},
        {bytes("ABCDEFGH"), 8, 8, 8, CM_COMPLETE_DATA_RECEIVED},      // exactly the request: delivered
        {bytes("ABCDEFG"), 8, 8, 7, CM_COMPLETE_DATA_RECEIVED},       // one byte fewer
        {bytes("ABCDEFGHIJ"), 4, 10, 4, CM_INCOMPLETE_DATA_RECEIVED}, // the rest comes next time
        {{0xC1, 0x00, 0xFF}, 10, 10, 3, CM_COMPLETE_DATA_RECEIVED},   // bytes, no translation
    };
    for (const Case &c : cases) {
        cpicCtl_Reset();
        definePartnerSending("SENDER", {c.record});
        allocate("SCRIPTED");
        jobject in = message(c.requested, std::vector<jchar>(static_cast<std::size_t>(c.arrayLength), '.'));
        ASSERT_EQ(callWith("CPIC_Receive", in), CM_OK);
        EXPECT_EQ(getInt(in, "fieldReceivedLength"), c.expectedLength);
        EXPECT_EQ(getInt(in, "fieldDataReceivedType"), c.expectedDataType);
        std::vector<jchar> expected(static_cast<std::size_t>(c.arrayLength), '.');
        for (int i = 0; i < c.expectedLength; ++i) expected[static_cast<std::size_t>(i)] = c.record[static_cast<std::size_t>(i)];
        EXPECT_EQ(getChars(in, "fieldBuffer"), expected);
    }
}

// A stack that claims more than was requested has written nothing trustworthy: nothing is
// copied and 0 is reported.
TEST_F(CpicTest, ReceiveClaimingMoreThanRequestedCopiesNothing) {
    definePartnerSending("SENDER", {bytes("ABCD")});
    allocate("SCRIPTED");
    cpicCtl_ReportReceiveLength(9);
    jobject in = message(8, chars("........"));
    ASSERT_EQ(callWith("CPIC_Receive", in), CM_OK);
    EXPECT_EQ(getInt(in, "fieldReceivedLength"), 0);
    EXPECT_EQ(getInt(in, "fieldDataReceivedType"), CM_COMPLETE_DATA_RECEIVED);
    EXPECT_EQ(getChars(in, "fieldBuffer"), chars("........"));
}

TEST_F(CpicTest, IncompleteRecordArrivesOverTwoReceives) {
    definePartnerSending("SENDER", {bytes("ABCDEFGHIJ")});
    allocate("SCRIPTED");
    jobject in = message(6, std::vector<jchar>(6, '.'));
    ASSERT_EQ(callWith("CPIC_Receive", in), CM_OK);
    EXPECT_EQ(getInt(in, "fieldDataReceivedType"), CM_INCOMPLETE_DATA_RECEIVED);
    EXPECT_EQ(getChars(in, "fieldBuffer"), chars("ABCDEF"));
    ASSERT_EQ(callWith("CPIC_Receive", in), CM_OK);
    EXPECT_EQ(getInt(in, "fieldDataReceivedType"), CM_COMPLETE_DATA_RECEIVED);
    EXPECT_EQ(getInt(in, "fieldReceivedLength"), 4);
    EXPECT_EQ(getChars(in, "fieldBuffer"), chars("GHIJEF"));
}

TEST_F(CpicTest, StatusOnlyReceiveLeavesTheBufferAlone) {
    definePartnerSending("SENDER", {});
    allocate("SCRIPTED");
    jobject in = message(8, chars("KEEPKEEP"));
    setInt(in, "fieldReceivedLength", 77);
    ASSERT_EQ(callWith("CPIC_Receive", in), CM_OK);
    EXPECT_EQ(getInt(in, "fieldReceivedLength"), 0);
    EXPECT_EQ(getInt(in, "fieldDataReceivedType"), CM_NO_DATA_RECEIVED);
    EXPECT_EQ(getInt(in, "fieldStatusReceived"), CM_SEND_RECEIVED);
    EXPECT_EQ(getChars(in, "fieldBuffer"), chars("KEEPKEEP"));
}

TEST_F(CpicTest, ReceiveIntoAShortArrayIsReportedAndTheLengthStillSet) {
    definePartnerSending("SENDER", {bytes("ABCDE")});
    allocate("SCRIPTED");
    jobject in = message(100, std::vector<jchar>(3, '.'));
    StdoutCapture out;
    EXPECT_EQ(callWith("CPIC_Receive", in), CM_OK);
    EXPECT_EQ(out.finish(), "Exception occurred SetCharArray \n");
    EXPECT_EQ(takeException(), "");
    EXPECT_EQ(getInt(in, "fieldReceivedLength"), 5);
    EXPECT_EQ(getChars(in, "fieldBuffer"), std::vector<jchar>(3, '.'));
}

TEST_F(CpicTest, SendTakesTheLowByteOfEachCharAndNeverMoreThanTheBuffer) {
    struct Case {
        int requested;
        std::vector<jchar> buffer;
        std::vector<unsigned char> expectedSent;
    };
    const Case cases[] = {
        {3, {0x0141, 0x00C1, 0x0042}, {0x41, 0xC1, 0x42}},
        {3, chars("ABCDEFGHIJ"), bytes("ABC")},    // longer array: cut to the buffer
        {5, chars("AB"), {'A', 'B', 0, 0, 0}},     // shorter array: zeros in the gap
        {0, chars("AB"), {}},
    };
    for (const Case &c : cases) {
        cpicCtl_Reset();
        allocate();
        ASSERT_EQ(callWith("CPIC_Send_Data", message(c.requested, c.buffer)), CM_OK);
        auto send = calls("cmsend");
        ASSERT_EQ(send.size(), 1u);
        EXPECT_EQ(send[0].value, c.requested);
        EXPECT_EQ(bytesOf(send[0]), c.expectedSent);
    }
    // A null buffer sends zeros.
    cpicCtl_Reset();
    allocate();
    jobject m = message(2, {});
    setCharsNull(m, "fieldBuffer");
    ASSERT_EQ(callWith("CPIC_Send_Data", m), CM_OK);
    EXPECT_EQ(bytesOf(calls("cmsend").at(0)), (std::vector<unsigned char>{0, 0}));
}

// Bad input from Java never reaches the heap or the stack. (The exception is what Java sees:
// a native's result is not delivered while an exception is pending.)
TEST_F(CpicTest, NullMessageOrNegativeLengthIsRefusedWithAnException) {
    allocate();
    const int before = cpicCtl_CallCount();
    for (const char *method : {"CPIC_Send_Data", "CPIC_Receive", "CPIC_Confirm", "CPIC_Send_Error"}) {
        callWith(method, nullptr);
        EXPECT_EQ(takeException(), "java.lang.NullPointerException") << method;
    }
    for (const char *method : {"CPIC_Send_Data", "CPIC_Receive"}) {
        jobject m = message(-5, chars("ABC"));
        callWith(method, m);
        EXPECT_EQ(takeException(), "java.lang.IllegalArgumentException") << method;
        EXPECT_EQ(getInt(m, "fieldReceivedLength"), 0);
    }
    EXPECT_EQ(cpicCtl_CallCount(), before);
}

// A message object of another class: its missing fields read as zero and the lookup error
// reaches Java when the native returns, after the call was made.
TEST_F(CpicTest, MessageWithoutTheFieldsSendsNothingAndRaisesTheLookupError) {
    allocate();
    jobject bare = newObject("com/zanvor/kelvra/testsupport/BareObject");
    EXPECT_EQ(callWith("CPIC_Send_Data", bare), CM_OK);
    EXPECT_EQ(takeException(), "java.lang.NoSuchFieldError");
    EXPECT_EQ(calls("cmsend").at(0).value, 0);
}

TEST_F(CpicTest, RequestToSendIsWrittenAfterEveryCallEvenOnError) {
    const std::pair<const char *, const char *> natives[] = {
        {"CPIC_Send_Data", "cmsend"}, {"CPIC_Receive", "cmrcv"}, {"CPIC_Confirm", "cmcfm"}, {"CPIC_Send_Error", "cmserr"}};
    for (const auto &[method, cpicCall] : natives) {
        cpicCtl_Reset();
        allocate();
        jobject m = message(1, chars("X"));
        setBoolean(m, "fieldRequestToSendReceived", JNI_TRUE);
        cpicCtl_ForceReturnCode(cpicCall, CM_PRODUCT_SPECIFIC_ERROR);
        EXPECT_EQ(callWith(method, m), CM_PRODUCT_SPECIFIC_ERROR) << method;
        EXPECT_EQ(getBoolean(m, "fieldRequestToSendReceived"), JNI_FALSE) << method;
    }
}

// The partner asks for send control before it sends; the receive that brings its record
// reports the request.
TEST_F(CpicTest, PartnerRequestToSendReachesJava) {
    const unsigned char reply[] = {'R'};
    const CpicPartnerStep partner[] = {
        {CPIC_STEP_WAIT_TURN, nullptr, 0},
        {CPIC_STEP_REQUEST_TO_SEND, nullptr, 0},
        {CPIC_STEP_SEND, reply, 1},
        {CPIC_STEP_GIVE_TURN, nullptr, 0},
        {CPIC_STEP_WAIT_TURN, nullptr, 0},
    };
    cpicCtl_DefinePartner("ASKER", partner, 5);
    cpicCtl_DefineSideInfo("SCRIPTED", "ASKER");
    allocate("SCRIPTED");
    ASSERT_EQ(callWith("CPIC_Send_Data", message(1, chars("X"))), CM_OK);
    jobject in = message(8, std::vector<jchar>(8, 0));
    ASSERT_EQ(callWith("CPIC_Receive", in), CM_OK);
    EXPECT_EQ(getInt(in, "fieldReceivedLength"), 1);
    EXPECT_EQ(getBoolean(in, "fieldRequestToSendReceived"), JNI_TRUE);
}

TEST_F(CpicTest, ConfirmWithTheEchoPartner) {
    setChars(conversation, "symbolicDestinationName", chars("ECHO", 8));
    ASSERT_EQ(call("CPIC_Initialize_Conversation"), CM_OK);
    ASSERT_EQ(callInt(conversation, "CPIC_Set_Sync_Level", "(Z)I", JNI_TRUE), CM_OK);
    ASSERT_EQ(call("CPIC_Allocate"), CM_OK);
    jobject m = message(2, chars("OK"));
    ASSERT_EQ(callWith("CPIC_Send_Data", m), CM_OK);
    EXPECT_EQ(callWith("CPIC_Confirm", m), CM_OK);
    EXPECT_EQ(call("CPIC_Deallocate"), CM_OK);
}

// A receive blocks its Java thread until the partner, on the stack's own thread, sends; other
// Java threads run their own conversations meanwhile.
TEST_F(CpicTest, ConversationsOnSeveralJavaThreads) {
    const unsigned char late[] = {'L', 'A', 'T', 'E'};
    const CpicPartnerStep slow[] = {
        {CPIC_STEP_WAIT_TURN, nullptr, 0},
        {CPIC_STEP_DELAY, nullptr, 50},
        {CPIC_STEP_SEND, late, 4},
        {CPIC_STEP_GIVE_TURN, nullptr, 0},
        {CPIC_STEP_WAIT_TURN, nullptr, 0},
    };
    cpicCtl_DefinePartner("SLOW", slow, 5);
    cpicCtl_DefineSideInfo("SLOWDEST", "SLOW");

    constexpr int kThreads = 4;
    std::atomic<int> succeeded{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            JNIEnv *e = nullptr;
            vm()->AttachCurrentThread(reinterpret_cast<void **>(&e), nullptr);
            e->PushLocalFrame(64);
            jobject conv = newObject("com/zanvor/kelvra/services/comms/Lu62Conversation");
            setChars(conv, "symbolicDestinationName", chars(t % 2 == 0 ? "SLOWDEST" : "ECHO", 8));
            bool ok = callInt(conv, "CPIC_Initialize_Conversation", "()I") == CM_OK &&
                      callInt(conv, "CPIC_Allocate", "()I") == CM_OK;
            std::string text = "THREAD" + std::to_string(t);
            jobject out = newObject("com/zanvor/kelvra/services/comms/Lu62Message");
            setInt(out, "fieldRequestedLength", static_cast<jint>(text.size()));
            setChars(out, "fieldBuffer", chars(text));
            ok = ok && callInt(conv, "CPIC_Send_Data", "(Ljava/lang/Object;)I", out) == CM_OK;
            jobject in = newObject("com/zanvor/kelvra/services/comms/Lu62Message");
            setInt(in, "fieldRequestedLength", 32);
            setChars(in, "fieldBuffer", std::vector<jchar>(32, 0));
            ok = ok && callInt(conv, "CPIC_Receive", "(Ljava/lang/Object;)I", in) == CM_OK;
            std::vector<jchar> got = getChars(in, "fieldBuffer");
            got.resize(static_cast<std::size_t>(getInt(in, "fieldReceivedLength")));
            ok = ok && got == chars(t % 2 == 0 ? "LATE" : text);
            if (ok) ++succeeded;
            e->PopLocalFrame(nullptr);
            vm()->DetachCurrentThread();
        });
    }
    for (auto &th : threads) th.join();
    EXPECT_EQ(succeeded.load(), kThreads);
}

} // namespace
