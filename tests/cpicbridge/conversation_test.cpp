// Conversation control natives against the stand-in CPI-C stack.
#include <cstring>

#include "cpic_fixture.h"

using namespace jvmtest;

namespace {

std::vector<jchar> idChars(const CpicCallRecord &record) {
    std::vector<jchar> chars(10, 0);
    for (int i = 0; i < CM_CID_SIZE; ++i) chars[static_cast<std::size_t>(i)] = record.conversation_ID[i];
    return chars;
}

TEST_F(CpicTest, VersionTextNeedsNoConversation) {
    jclass cls = findClass("com/zanvor/kelvra/services/comms/Lu62Conversation");
    jmethodID id = env()->GetStaticMethodID(cls, "getWrapperLU62Version", "()Ljava/lang/String;");
    for (int round = 0; round < 2; ++round) {
        auto text = static_cast<jstring>(env()->CallStaticObjectMethod(cls, id));
        ASSERT_FALSE(env()->ExceptionCheck());
        ASSERT_NE(text, nullptr);
        const char *utf = env()->GetStringUTFChars(text, nullptr);
        EXPECT_STREQ(utf, "LU 6.2 Wrapper library for Windows NT. OSTREL for Java version 4.0");
        env()->ReleaseStringUTFChars(text, utf);
    }
    EXPECT_EQ(cpicCtl_CallCount(), 0);
}

TEST_F(CpicTest, NoOperationNativesCallNothingAndTouchNothing) {
    setChars(conversation, "tpName", chars("KEEP", 64));
    EXPECT_EQ(call("CPIC_Set_LU_Name"), CM_OK);
    EXPECT_EQ(call("Unregister_For_Allocate"), CM_OK);
    jstring lu = env()->NewStringUTF("LU1");
    EXPECT_EQ(callObject(conversation, "Accept_Conversation", "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;",
                         lu, lu),
              nullptr);
    EXPECT_EQ(callObject(conversation, "Allocate_Conversation",
                         "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;", lu, lu, lu),
              nullptr);
    EXPECT_EQ(callObject(conversation, "Send_Receive_Complete",
                         "(Ljava/lang/Object;Ljava/lang/String;Ljava/lang/String;I[CLjava/lang/String;Ljava/lang/String;)"
                         "Ljava/lang/String;",
                         nullptr, lu, lu, 5, nullptr, lu, lu),
              nullptr);
    EXPECT_EQ(cpicCtl_CallCount(), 0);
    EXPECT_EQ(getChars(conversation, "tpName"), chars("KEEP", 64));
    EXPECT_EQ(getChars(conversation, "conversationId"), std::vector<jchar>(10, 0));
}

TEST_F(CpicTest, InitializeWritesTheIdentifierFollowedByTwoZeros) {
    setChars(conversation, "conversationId", std::vector<jchar>(10, 0x7777));
    setChars(conversation, "symbolicDestinationName", chars("ECHO", 8));
    ASSERT_EQ(call("CPIC_Initialize_Conversation"), CM_OK);
    auto init = calls("cminit");
    ASSERT_EQ(init.size(), 1u);
    EXPECT_EQ(bytesOf(init[0]), (std::vector<unsigned char>{'E', 'C', 'H', 'O', 0, 0, 0, 0}));
    std::vector<jchar> id = getChars(conversation, "conversationId");
    EXPECT_EQ(id, idChars(init[0]));
    EXPECT_NE(id, std::vector<jchar>(10, 0));

    // Every later call addresses the conversation by the identifier Java now holds.
    ASSERT_EQ(call("CPIC_Allocate"), CM_OK);
    EXPECT_EQ(idChars(calls("cmallc").at(0)), id);
    EXPECT_EQ(call("CPIC_Deallocate"), CM_OK);
}

TEST_F(CpicTest, FailedInitializeStillWritesTheZeroIdentifier) {
    setChars(conversation, "conversationId", std::vector<jchar>(10, 0x7777));
    setChars(conversation, "symbolicDestinationName", chars("NOWHERE", 8));
    EXPECT_EQ(call("CPIC_Initialize_Conversation"), CM_PROGRAM_PARAMETER_CHECK);
    EXPECT_EQ(getChars(conversation, "conversationId"), std::vector<jchar>(10, 0));
}

TEST_F(CpicTest, DestinationAndIdentifierArraysLongerThanTheirBuffersAreCut) {
    // Ten chars of destination: only the first eight reach the stack.
    setChars(conversation, "symbolicDestinationName", chars("ECHO\0\0\0\0XY", 10));
    ASSERT_EQ(call("CPIC_Initialize_Conversation"), CM_OK);
    EXPECT_EQ(calls("cminit").at(0).byte_count, 8);
    std::vector<jchar> id = getChars(conversation, "conversationId");
    id.resize(40, 0x4141); // surplus elements of a long identifier array are ignored
    setChars(conversation, "conversationId", id);
    EXPECT_EQ(call("CPIC_Allocate"), CM_OK);
    EXPECT_EQ(call("CPIC_Deallocate"), CM_OK);
}

TEST_F(CpicTest, InitializeForIncomingIntoAShortArrayIsReportedAndStillReturnsTheCode) {
    setChars(conversation, "tpName", chars("BRANCHTP", 64));
    ASSERT_EQ(call("CPIC_Specify_Local_TP_Name"), CM_OK);
    setChars(conversation, "conversationId", std::vector<jchar>(4, 0));
    StdoutCapture out;
    EXPECT_EQ(call("CPIC_Initialize_For_Incoming"), CM_OK);
    EXPECT_EQ(out.finish(), "Exception occurred SetCharArray \n");
    EXPECT_EQ(takeException(), ""); // described, not left pending
}

TEST_F(CpicTest, MissingOrShortIdentifierReachesTheStackZeroFilled) {
    setCharsNull(conversation, "conversationId");
    jint rc = call("CPIC_Flush");
    EXPECT_EQ(rc, calls("cmflus").at(0).return_code);
    EXPECT_EQ(idChars(calls("cmflus").at(0)), std::vector<jchar>(10, 0));

    setChars(conversation, "conversationId", {0x41, 0x142});
    call("CPIC_Flush");
    EXPECT_EQ(idChars(calls("cmflus").at(1)), (std::vector<jchar>{0x41, 0x42, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(CpicTest, TpNameLengthEndsAtTheFirstZeroByte) {
    struct Case {
        std::vector<jchar> name;
        int expectedLength;
    };
    std::vector<jchar> twoThenZero = chars("AB\0DE", 5);
    twoThenZero[2] = 0;
    const Case cases[] = {
        {chars("ABC", 64), 3},
        {twoThenZero, 2},
        {{}, 0},
        {chars(std::string(70, 'T')), 64}, // cut to the 64-byte buffer
        {chars(std::string(64, 'T')), 64},
    };
    for (const Case &c : cases) {
        cpicCtl_Reset();
        setChars(conversation, "symbolicDestinationName", chars("ECHO", 8));
        ASSERT_EQ(call("CPIC_Initialize_Conversation"), CM_OK);
        setChars(conversation, "tpName", c.name);
        jint rc = call("CPIC_Set_TP_Name");
        auto stpn = calls("cmstpn");
        ASSERT_EQ(stpn.size(), 1u);
        EXPECT_EQ(stpn[0].value, c.expectedLength);
        EXPECT_EQ(rc, stpn[0].return_code);
        EXPECT_EQ(bytesOf(stpn[0]).size(), static_cast<std::size_t>(c.expectedLength));

        call("CPIC_Specify_Local_TP_Name");
        EXPECT_EQ(calls("cmsltp").at(0).value, c.expectedLength);
    }
}

TEST_F(CpicTest, CharacteristicSettersPassTheirValues) {
    struct Case {
        const char *method;
        const char *signature;
        jint intValue;
        jboolean boolValue;
        const char *cpicCall;
        CM_INT32 expected;
    };
    const Case cases[] = {
        {"CPIC_Set_Conversation_Type", "(Z)I", 0, JNI_TRUE, "cmsct", 1},
        {"CPIC_Set_Conversation_Type", "(Z)I", 0, JNI_FALSE, "cmsct", 0},
        {"CPIC_Set_Processing_Mode", "(Z)I", 0, JNI_TRUE, "cmspm", 1},
        {"CPIC_Set_Receive_Type", "(Z)I", 0, JNI_TRUE, "cmsrt", 1},
        {"CPIC_Set_Sync_Level", "(Z)I", 0, JNI_TRUE, "cmssl", 1},
        {"CPIC_Set_Send_Type", "(I)I", -7, 0, "cmsst", -7},
        {"CPIC_Set_Send_Type", "(I)I", CM_SEND_AND_FLUSH, 0, "cmsst", CM_SEND_AND_FLUSH},
        {"CPIC_Set_Deallocate_Type", "(I)I", CM_DEALLOCATE_FLUSH, 0, "cmsdt", CM_DEALLOCATE_FLUSH},
        {"CPIC_Set_Deallocate_Type", "(I)I", 99, 0, "cmsdt", 99},
    };
    for (const Case &c : cases) {
        cpicCtl_Reset();
        setChars(conversation, "symbolicDestinationName", chars("ECHO", 8));
        ASSERT_EQ(call("CPIC_Initialize_Conversation"), CM_OK);
        jint rc = c.signature[1] == 'Z' ? callInt(conversation, c.method, c.signature, c.boolValue)
                                        : callInt(conversation, c.method, c.signature, c.intValue);
        auto seen = calls(c.cpicCall);
        ASSERT_EQ(seen.size(), 1u) << c.method;
        EXPECT_EQ(seen[0].value, c.expected) << c.method;
        EXPECT_EQ(rc, seen[0].return_code) << c.method; // the stack's code, unchanged
        EXPECT_EQ(idChars(seen[0]), getChars(conversation, "conversationId"));
    }
}

// The natives return whatever CPI-C returns, uninterpreted, for every conversation call.
TEST_F(CpicTest, ConversationCallsReturnTheStackCodeUnchanged) {
    const std::pair<const char *, const char *> natives[] = {
        {"CPIC_Accept_Incoming", "cmacci"}, {"CPIC_Allocate", "cmallc"},  {"CPIC_Cancel_Conversation", "cmcanc"},
        {"CPIC_Confirmed", "cmcfmd"},       {"CPIC_Deallocate", "cmdeal"}, {"CPIC_Flush", "cmflus"},
        {"CPIC_Prepare_To_Receive", "cmptr"}, {"CPIC_Request_To_Send", "cmrts"},
        {"CPIC_Initialize_Conversation", "cminit"}, {"CPIC_Initialize_For_Incoming", "cminic"},
        {"CPIC_Set_TP_Name", "cmstpn"},     {"CPIC_Specify_Local_TP_Name", "cmsltp"},
    };
    CM_INT32 code = 1000;
    for (const auto &[method, cpicCall] : natives) {
        cpicCtl_ForceReturnCode(cpicCall, ++code);
        EXPECT_EQ(call(method), code) << method;
        ASSERT_EQ(calls(cpicCall).size(), 1u) << method;
    }
}

TEST_F(CpicTest, CallsInTheWrongStateGetTheStackStateCheck) {
    allocate();
    EXPECT_EQ(call("CPIC_Confirmed"), CM_PROGRAM_STATE_CHECK); // nothing to confirm in send state
    EXPECT_EQ(call("CPIC_Deallocate"), CM_OK);
    EXPECT_EQ(call("CPIC_Flush"), CM_PROGRAM_PARAMETER_CHECK); // the conversation is gone
}

TEST_F(CpicTest, IncomingConversationIsAcceptedAndReceived) {
    const unsigned char ping[] = {'P', 'I', 'N', 'G'};
    const CpicPartnerStep client[] = {
        {CPIC_STEP_SEND, ping, 4},
        {CPIC_STEP_GIVE_TURN, nullptr, 0},
        {CPIC_STEP_WAIT_TURN, nullptr, 0},
    };
    cpicCtl_DefinePartner("CLIENT", client, 3);
    cpicCtl_QueueIncoming("BRANCHTP", "CLIENT");

    setChars(conversation, "tpName", chars("BRANCHTP", 64));
    ASSERT_EQ(call("CPIC_Specify_Local_TP_Name"), CM_OK);
    ASSERT_EQ(call("CPIC_Initialize_For_Incoming"), CM_OK);
    std::vector<jchar> id = getChars(conversation, "conversationId");
    EXPECT_EQ(id[8], 0);
    EXPECT_EQ(id[9], 0);
    ASSERT_EQ(call("CPIC_Accept_Incoming"), CM_OK);

    jobject m = message(100, std::vector<jchar>(100, '.'));
    ASSERT_EQ(callWith("CPIC_Receive", m), CM_OK);
    EXPECT_EQ(getInt(m, "fieldReceivedLength"), 4);
    std::vector<jchar> buffer = getChars(m, "fieldBuffer");
    EXPECT_EQ(std::vector<jchar>(buffer.begin(), buffer.begin() + 4), chars("PING"));
    if (getInt(m, "fieldStatusReceived") != CM_SEND_RECEIVED) {
        ASSERT_EQ(callWith("CPIC_Receive", m), CM_OK);
        EXPECT_EQ(getInt(m, "fieldStatusReceived"), CM_SEND_RECEIVED);
    }
    EXPECT_EQ(call("CPIC_Deallocate"), CM_OK);
}

} // namespace
