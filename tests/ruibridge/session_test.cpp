// Lu0SnaSession natives against the stand-in RUI stack.
#include <atomic>
#include <map>
#include <cstring>
#include <thread>

#include "jvm_test.h"
#include "lua.h"
#include "rui_control.h"
#include "win32emu_debug.h"

using namespace jvmtest;

namespace {

const char *const kRequest = "com/zanvor/kelvra/services/comms/LuaRequest";

class RuiTest : public JvmTest {
protected:
    void SetUp() override {
        JvmTest::SetUp();
        ruiCtl_Reset();
        handlesAtStart = win32emu_OpenHandleCount();
        session = newObject("com/zanvor/kelvra/services/comms/Lu0SnaSession");
    }
    void TearDown() override {
        ruiCtl_Reset();
        EXPECT_EQ(win32emu_OpenHandleCount(), handlesAtStart) << "a handle leaked";
        JvmTest::TearDown();
    }

    void verb(const char *name, jobject request) { callVoid(session, name, "(Ljava/lang/Object;)V", request); }

    jobject request() { return newObject(kRequest); }

    // A request holding a live session on the demo LU.
    jobject openSession() {
        jobject r = request();
        setChars(r, "lua_luname", chars(RUI_DEMO_LU, 8));
        verb("RUI_init", r);
        EXPECT_EQ(getInt(r, "lua_prim_rc"), LUA_OK);
        return r;
    }

    static std::vector<RuiVerbLog> verbs(uint16_t opcode = 0) {
        std::vector<RuiVerbLog> result;
        RuiVerbLog entry;
        for (int i = 0; ruiCtl_GetVerb(i, &entry) != 0; ++i)
            if (opcode == 0 || entry.record.common.lua_opcode == opcode) result.push_back(entry);
        return result;
    }

    static std::string luName(const RuiVerbLog &v) {
        return std::string(reinterpret_cast<const char *>(v.record.common.lua_luname), 8);
    }

    static void queueHost(uint32_t sid, const std::string &text, std::vector<unsigned char> th = {0x2C, 0, 1, 2, 0, 7}) {
        RuiHostUnit unit{};
        unit.data = reinterpret_cast<const unsigned char *>(text.data());
        unit.length = static_cast<uint16_t>(text.size());
        unit.message_type = LUA_MESSAGE_TYPE_LU_DATA;
        std::memcpy(&unit.th, th.data(), sizeof unit.th);
        unit.rh.rri = 0;
        unit.rh.bci = 1;
        unit.rh.eci = 1;
        unit.flags.lu_norm = 1;
        ruiCtl_QueueHostData(sid, &unit);
    }

    static uint32_t sidOf(jobject r) { return static_cast<uint32_t>(getDouble(r, "lua_sid")); }

    DWORD handlesAtStart = 0;
    jobject session = nullptr;
};

TEST_F(RuiTest, InitPadsTheLuNameWithBlanksAndWritesItBack) {
    struct Case {
        std::vector<jchar> java;
        const char *seenByStack;
        bool succeeds;
    };
    std::vector<jchar> splitName = chars("LUxLU0X", 8);
    splitName[2] = 0;
    const Case cases[] = {
        {chars("LU0", 8), "LU0     ", true},
        {chars("LU0DEMO8"), "LU0DEMO8", true},
        {splitName, "LU      ", false},
        {chars("LU0DEMO8XYZ"), "LU0DEMO8", true}, // a longer array is cut to the field
    };
    ruiCtl_AddLu("LU0");
    ruiCtl_AddLu("LU0DEMO8");
    for (const Case &c : cases) {
        ruiCtl_Reset();
        ruiCtl_AddLu("LU0");
        ruiCtl_AddLu("LU0DEMO8");
        jobject r = request();
        setChars(r, "lua_luname", c.java);
        verb("RUI_init", r);
        auto init = verbs(LUA_OPCODE_RUI_INIT);
        ASSERT_EQ(init.size(), 1u);
        EXPECT_EQ(luName(init[0]), c.seenByStack);
        EXPECT_EQ(init[0].record.common.lua_verb, LUA_VERB_RUI);
        EXPECT_EQ(init[0].record.common.lua_verb_length, LUA_COMMON_LENGTH);
        EXPECT_NE(init[0].record.common.lua_post_handle, 0u);
        EXPECT_EQ(getInt(r, "lua_prim_rc") == LUA_OK, c.succeeds) << c.seenByStack;
        if (c.succeeds) {
            std::vector<jchar> expected = chars(c.seenByStack);
            std::vector<jchar> got = getChars(r, "lua_luname");
            EXPECT_EQ(std::vector<jchar>(got.begin(), got.begin() + 8), expected);
            EXPECT_NE(getDouble(r, "lua_sid"), 0.0);
        }
    }
}

TEST_F(RuiTest, InitWithNullNameSendsBlanksAndWritesNothingBack) {
    ruiCtl_AddLu("        ");
    jobject r = request();
    setCharsNull(r, "lua_luname");
    verb("RUI_init", r);
    EXPECT_EQ(luName(verbs(LUA_OPCODE_RUI_INIT).at(0)), "        ");
    EXPECT_TRUE(charsIsNull(r, "lua_luname"));
}

TEST_F(RuiTest, InitIntoAShortArraySetsTheCodesThenLeavesTheBoundsErrorPending) {
    jobject r = request();
    setChars(r, "lua_luname", chars("LU0DEMO"));
    verb("RUI_init", r);
    EXPECT_EQ(takeException(), "java.lang.ArrayIndexOutOfBoundsException");
    EXPECT_EQ(getInt(r, "lua_prim_rc"), LUA_OK);
    EXPECT_NE(getDouble(r, "lua_sid"), 0.0);
}

TEST_F(RuiTest, FailedInitWritesOnlyTheCodes) {
    jobject r = request();
    setChars(r, "lua_luname", chars("NOSUCHLU", 8));
    setDouble(r, "lua_sid", 42.0);
    verb("RUI_init", r);
    EXPECT_EQ(getInt(r, "lua_prim_rc"), LUA_PARAMETER_CHECK);
    EXPECT_EQ(getDouble(r, "lua_sec_rc"), static_cast<double>(LUA_INVALID_LUNAME));
    EXPECT_EQ(getDouble(r, "lua_sid"), 42.0);
    EXPECT_EQ(getChars(r, "lua_luname"), chars("NOSUCHLU", 8));
}

TEST_F(RuiTest, TermWritesTheSecondaryCodeEitherWay) {
    jobject r = openSession();
    setDouble(r, "lua_sec_rc", 99.0);
    verb("RUI_term", r);
    EXPECT_EQ(getInt(r, "lua_prim_rc"), LUA_OK);
    EXPECT_EQ(getDouble(r, "lua_sec_rc"), 0.0);
    EXPECT_EQ(verbs(LUA_OPCODE_RUI_TERM).at(0).record.common.lua_sid, sidOf(r));
    verb("RUI_term", r); // the session is gone now
    EXPECT_EQ(getInt(r, "lua_prim_rc"), LUA_PARAMETER_CHECK);
    EXPECT_EQ(getDouble(r, "lua_sec_rc"), static_cast<double>(LUA_BAD_SESSION_ID));
    EXPECT_EQ(ruiCtl_SessionCount(), 0);
}

TEST_F(RuiTest, SessionIdentifierCrossesAsThirtyTwoBits) {
    const std::pair<double, uint32_t> cases[] = {{-1.0, 0xFFFFFFFFu}, {4294967295.0, 0xFFFFFFFFu}, {1.9, 1u}};
    for (const auto &[javaSid, recordSid] : cases) {
        jobject r = request();
        setDouble(r, "lua_sid", javaSid);
        verb("RUI_term", r);
        EXPECT_EQ(verbs(LUA_OPCODE_RUI_TERM).back().record.common.lua_sid, recordSid);
    }
}

TEST_F(RuiTest, WriteThenReadTheHostAnswerInlineAndAsync) {
    for (RuiCompletion mode : {RUI_COMPLETE_INLINE, RUI_COMPLETE_ASYNC}) {
        ruiCtl_Reset();
        ruiCtl_SetCompletion(mode, mode == RUI_COMPLETE_ASYNC ? 20 : 0);
        jobject r = openSession();
        setInt(r, "lua_data_length", 5);
        setInt(r, "lua_max_length", 70000); // low 16 bits reach the record
        setChars(r, "lua_data_ptr", chars("HELLO"));
        setBoolean(getObject(r, "flag1", "Lcom/zanvor/kelvra/services/comms/LuaFlag1;"), "lu_norm", JNI_TRUE);
        verb("RUI_write", r);
        ASSERT_EQ(getInt(r, "lua_prim_rc"), LUA_OK);
        auto write = verbs(LUA_OPCODE_RUI_WRITE).at(0);
        EXPECT_EQ(write.record.common.lua_max_length, 4464);
        EXPECT_EQ(std::string(reinterpret_cast<char *>(write.data), 5), "HELLO");
        EXPECT_EQ(write.record.common.lua_flag1.lu_norm, 1);
        EXPECT_EQ(write.completed_async, mode == RUI_COMPLETE_ASYNC ? 1 : 0);

        jobject in = request();
        setDouble(in, "lua_sid", getDouble(r, "lua_sid"));
        setInt(in, "lua_max_length", 256);
        setChars(in, "lua_data_ptr", std::vector<jchar>(256, '.'));
        verb("RUI_read", in);
        ASSERT_EQ(getInt(in, "lua_prim_rc"), LUA_OK);
        const std::string expected = "HOST REPLY TO HELLO";
        EXPECT_EQ(getInt(in, "lua_data_length"), static_cast<jint>(expected.size()));
        std::vector<jchar> data = getChars(in, "lua_data_ptr");
        EXPECT_EQ(std::vector<jchar>(data.begin(), data.begin() + static_cast<long>(expected.size())), chars(expected));
        EXPECT_EQ(data[expected.size()], '.');
        jobject flag2 = getObject(in, "flag2", "Lcom/zanvor/kelvra/services/comms/LuaFlag2;");
        EXPECT_EQ(getBoolean(flag2, "lu_norm"), JNI_TRUE);
        // Inline mode: the read still waits if the host's answer has not arrived yet.
        if (mode == RUI_COMPLETE_ASYNC) {
            EXPECT_EQ(getBoolean(flag2, "async"), JNI_TRUE);
        }
        verb("RUI_term", r);
    }
}

TEST_F(RuiTest, WriteSendsExactlyDataLengthBytes) {
    struct Case {
        jint dataLength;
        std::vector<jchar> java;
        bool javaNull;
        std::vector<unsigned char> sent;
    };
    const Case cases[] = {
        {10, chars("ABCD"), false, {'A', 'B', 'C', 'D', 0, 0, 0, 0, 0, 0}},
        {3, {0x01C1, 0x0041, 0x00FF}, false, {0xC1, 0x41, 0xFF}},
        {2, chars("ABCDEFGH"), false, {'A', 'B'}}, // surplus cut to the buffer
        {4, {}, true, {0, 0, 0, 0}},
    };
    jobject r = openSession();
    for (const Case &c : cases) {
        setInt(r, "lua_data_length", c.dataLength);
        if (c.javaNull) setCharsNull(r, "lua_data_ptr"); else setChars(r, "lua_data_ptr", c.java);
        verb("RUI_write", r);
        auto w = verbs(LUA_OPCODE_RUI_WRITE).back();
        EXPECT_EQ(w.record.common.lua_data_length, c.dataLength);
        EXPECT_EQ(std::vector<unsigned char>(w.data, w.data + w.data_count), c.sent);
    }
}

TEST_F(RuiTest, WriteOfNoDataPassesNoBufferAndNeverLooksAtTheArray) {
    jobject r = openSession();
    jobject bare = newObject("com/zanvor/kelvra/testsupport/RequestWithoutData");
    setDouble(bare, "lua_sid", getDouble(r, "lua_sid"));
    verb("RUI_write", bare);
    EXPECT_EQ(takeException(), ""); // lua_data_ptr was never looked up
    auto w = verbs(LUA_OPCODE_RUI_WRITE).at(0);
    EXPECT_EQ(w.had_data_ptr, 0);
    EXPECT_EQ(getInt(bare, "lua_prim_rc"), LUA_OK);
}

TEST_F(RuiTest, FailedVerbsReportTheirOpcode) {
    for (const char *name : {"RUI_read", "RUI_write"}) {
        jobject r = request();
        setDouble(r, "lua_sid", 12345.0);
        setInt(r, "lua_data_length", 1);
        setChars(r, "lua_data_ptr", chars("Z"));
        verb(name, r);
        EXPECT_EQ(getInt(r, "lua_prim_rc"), LUA_PARAMETER_CHECK) << name;
        EXPECT_EQ(getDouble(r, "lua_sec_rc"), static_cast<double>(LUA_BAD_SESSION_ID)) << name;
        EXPECT_EQ(getInt(r, "lua_opcode"), std::string(name) == "RUI_read" ? 32771 : 32772) << name;
        EXPECT_EQ(getChars(r, "lua_data_ptr"), chars("Z")) << name;
    }
}

TEST_F(RuiTest, ReadDeliversTheHeadersAndOnlyTheReceivedElements) {
    jobject r = openSession();
    queueHost(sidOf(r), "ABCDE", {0x2C, 0, 0x11, 0x22, 0x01, 0x02});
    setInt(r, "lua_max_length", 16);
    setChars(r, "lua_data_ptr", std::vector<jchar>(16, '.'));
    verb("RUI_read", r);
    ASSERT_EQ(getInt(r, "lua_prim_rc"), LUA_OK);
    EXPECT_EQ(getInt(r, "lua_data_length"), 5);
    std::vector<jchar> expected = chars("ABCDE");
    expected.resize(16, '.');
    EXPECT_EQ(getChars(r, "lua_data_ptr"), expected);
    jobject th = getObject(r, "th", "Lcom/zanvor/kelvra/services/comms/LuaTH;");
    EXPECT_EQ(getBoolean(th, "flags_fid"), JNI_TRUE);
    EXPECT_EQ(getBoolean(th, "flags_mpf"), JNI_TRUE);
    EXPECT_EQ(getBoolean(th, "flags_odai"), JNI_FALSE);
    EXPECT_EQ(getBoolean(th, "flags_efi"), JNI_FALSE);
    EXPECT_EQ(getChar(th, "daf"), 0x11);
    EXPECT_EQ(getChars(th, "snf"), (std::vector<jchar>{1, 2}));
    jobject rh = getObject(r, "rh", "Lcom/zanvor/kelvra/services/comms/LuaRH;");
    EXPECT_EQ(getBoolean(rh, "bci"), JNI_TRUE);
    EXPECT_EQ(getBoolean(rh, "eci"), JNI_TRUE);
}

TEST_F(RuiTest, ReadIntoAShortArrayWritesEverythingElseFirst) {
    jobject r = openSession();
    queueHost(sidOf(r), "ABCDE");
    setInt(r, "lua_max_length", 16);
    setChars(r, "lua_data_ptr", chars("xy"));
    verb("RUI_read", r);
    EXPECT_EQ(takeException(), "java.lang.ArrayIndexOutOfBoundsException");
    EXPECT_EQ(getInt(r, "lua_prim_rc"), LUA_OK);
    EXPECT_EQ(getInt(r, "lua_data_length"), 5);
    EXPECT_EQ(getBoolean(getObject(r, "flag2", "Lcom/zanvor/kelvra/services/comms/LuaFlag2;"), "lu_norm"), JNI_TRUE);
}

TEST_F(RuiTest, ReadNeverCopiesMoreThanTheBufferHolds) {
    jobject r = openSession();
    queueHost(sidOf(r), "ABCDEFGHIJKLMNOP");
    ruiCtl_ReportReadLength(300);
    setInt(r, "lua_max_length", 8);
    setChars(r, "lua_data_ptr", std::vector<jchar>(20, '.'));
    verb("RUI_read", r);
    ASSERT_EQ(getInt(r, "lua_prim_rc"), LUA_OK);
    EXPECT_EQ(getInt(r, "lua_data_length"), 8);
    std::vector<jchar> expected = chars("ABCDEFGH");
    expected.resize(20, '.');
    EXPECT_EQ(getChars(r, "lua_data_ptr"), expected);
}

TEST_F(RuiTest, ReadWithNoWaitAndZeroLengthBuffer) {
    jobject r = openSession();
    setInt(r, "lua_max_length", 0);
    setBoolean(getObject(r, "flag1", "Lcom/zanvor/kelvra/services/comms/LuaFlag1;"), "nowait", JNI_TRUE);
    verb("RUI_read", r);
    auto read = verbs(LUA_OPCODE_RUI_READ).at(0);
    EXPECT_EQ(read.had_data_ptr, 1);
    EXPECT_EQ(read.record.common.lua_max_length, 0);
    EXPECT_EQ(read.record.common.lua_flag1.nowait, 1);
    EXPECT_EQ(getInt(r, "lua_prim_rc"), LUA_UNSUCCESSFUL);
    EXPECT_EQ(getDouble(r, "lua_sec_rc"), static_cast<double>(LUA_NO_DATA));
}

TEST_F(RuiTest, BidReportsWaitingDataWithoutConsumingIt) {
    jobject r = openSession();
    queueHost(sidOf(r), "PEEKABOO-0123456789");
    setInt(r, "lua_max_length", 77);
    verb("RUI_bid", r);
    ASSERT_EQ(getInt(r, "lua_prim_rc"), LUA_OK);
    EXPECT_EQ(verbs(LUA_OPCODE_RUI_BID).at(0).record.common.lua_verb_length, LUA_BID_LENGTH);
    EXPECT_EQ(getInt(r, "lua_data_length"), 19);
    EXPECT_EQ(getChar(r, "lua_message_type"), LUA_MESSAGE_TYPE_LU_DATA);
    EXPECT_EQ(getBoolean(getObject(r, "th", "Lcom/zanvor/kelvra/services/comms/LuaTH;"), "flags_fid"), JNI_TRUE);
    setInt(r, "lua_max_length", 64);
    setChars(r, "lua_data_ptr", std::vector<jchar>(64, 0));
    verb("RUI_read", r);
    EXPECT_EQ(getInt(r, "lua_data_length"), 19);
}

// A verb that completes later holds its Java thread until the signal; several threads can
// have verbs outstanding at once.
TEST_F(RuiTest, ReadsOnSeveralThreadsWaitForTheirData) {
    ruiCtl_AddLu("LU0C");
    const char *lus[] = {RUI_DEMO_LU, RUI_SECOND_LU, "LU0C"};
    std::vector<uint32_t> sids;
    for (const char *lu : lus) {
        jobject r = request();
        setChars(r, "lua_luname", chars(lu, 8));
        verb("RUI_init", r);
        ASSERT_EQ(getInt(r, "lua_prim_rc"), LUA_OK);
        sids.push_back(sidOf(r));
    }
    std::atomic<int> done{0};
    std::vector<std::string> got(3);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < 3; ++t) {
        threads.emplace_back([&, t] {
            JNIEnv *e = nullptr;
            vm()->AttachCurrentThread(reinterpret_cast<void **>(&e), nullptr);
            e->PushLocalFrame(64);
            jobject s = newObject("com/zanvor/kelvra/services/comms/Lu0SnaSession");
            jobject r = newObject(kRequest);
            setDouble(r, "lua_sid", sids[t]);
            setInt(r, "lua_max_length", 32);
            setChars(r, "lua_data_ptr", std::vector<jchar>(32, 0));
            callVoid(s, "RUI_read", "(Ljava/lang/Object;)V", r);
            std::vector<jchar> data = getChars(r, "lua_data_ptr");
            got[t] = std::string(data.begin(), data.begin() + getInt(r, "lua_data_length"));
            ++done;
            e->PopLocalFrame(nullptr);
            vm()->DetachCurrentThread();
        });
    }
    while (ruiCtl_OutstandingCount() < 3) std::this_thread::yield();
    EXPECT_EQ(done.load(), 0); // all three are blocked in their verbs
    for (std::size_t t = 0; t < 3; ++t) queueHost(sids[t], "DATA" + std::to_string(t));
    for (auto &th : threads) th.join();
    for (std::size_t t = 0; t < 3; ++t) EXPECT_EQ(got[t], "DATA" + std::to_string(t));
    for (const auto &v : verbs(LUA_OPCODE_RUI_READ)) EXPECT_EQ(v.completed_async, 1);
}

std::string exceptionMessage(JNIEnv *e) {
    jthrowable thrown = e->ExceptionOccurred();
    e->ExceptionClear();
    auto text = static_cast<jstring>(callObject(thrown, "getMessage", "()Ljava/lang/String;"));
    const char *utf = e->GetStringUTFChars(text, nullptr);
    std::string message = utf;
    e->ReleaseStringUTFChars(text, utf);
    return message;
}

// Without a completion event the verb could never report a later completion: it is not issued.
TEST_F(RuiTest, EventThatCannotBeCreatedIsReportedAndNoVerbIssued) {
    jobject r = request();
    setChars(r, "lua_luname", chars(RUI_DEMO_LU, 8));
    setInt(r, "lua_prim_rc", 77);
    win32emu_FailNext("CreateEventA", ERROR_NOT_ENOUGH_MEMORY);
    verb("RUI_init", r);
    ASSERT_TRUE(env()->ExceptionCheck());
    EXPECT_EQ(exceptionMessage(env()), "cannot create the completion event (error 8)");
    EXPECT_EQ(ruiCtl_VerbCount(), 0);
    EXPECT_EQ(getInt(r, "lua_prim_rc"), 77);
}

// A failed wait must not release what the stack may still write into: the record, the buffer
// and the event stay with the stack, and Java is told.
TEST_F(RuiTest, FailedWaitLeavesTheVerbToTheStackAndIsReported) {
    jobject r = openSession();
    ruiCtl_SetCompletion(RUI_COMPLETE_ASYNC, 50);
    setInt(r, "lua_max_length", 64);
    setChars(r, "lua_data_ptr", std::vector<jchar>(64, '.'));
    setInt(r, "lua_prim_rc", 77);
    queueHost(sidOf(r), "LATE DATA");
    win32emu_FailNext("WaitForSingleObject", ERROR_INVALID_HANDLE);
    verb("RUI_read", r);
    ASSERT_TRUE(env()->ExceptionCheck());
    EXPECT_EQ(exceptionMessage(env()), "waiting for the verb's completion failed (result 4294967295, error 6)");
    EXPECT_EQ(getInt(r, "lua_prim_rc"), 77); // nothing was read from an unfinished record
    EXPECT_EQ(getChars(r, "lua_data_ptr"), std::vector<jchar>(64, '.'));
    // The stack finishes the verb into the memory it was lent (the sanitizer build checks it).
    while (ruiCtl_OutstandingCount() > 0) std::this_thread::yield();
    handlesAtStart += 1; // the event deliberately left open
}

// A request without one of the sub-objects a verb needs gets an exception naming it, and
// no verb is issued.
TEST_F(RuiTest, MissingSubObjectsAreRefusedBeforeTheVerb) {
    const std::pair<const char *, const char *> needs[] = {
        {"RUI_bid", "rh"},    {"RUI_bid", "th"},    {"RUI_bid", "flag2"},  {"RUI_write", "rh"},
        {"RUI_write", "th"},  {"RUI_write", "flag1"}, {"RUI_write", "flag2"}, {"RUI_read", "flag1"},
        {"RUI_read", "th"},   {"RUI_read", "rh"},   {"RUI_read", "flag2"},
    };
    const std::map<std::string, const char *> signatures = {
        {"rh", "Lcom/zanvor/kelvra/services/comms/LuaRH;"},
        {"th", "Lcom/zanvor/kelvra/services/comms/LuaTH;"},
        {"flag1", "Lcom/zanvor/kelvra/services/comms/LuaFlag1;"},
        {"flag2", "Lcom/zanvor/kelvra/services/comms/LuaFlag2;"},
    };
    for (const auto &[name, field] : needs) {
        jobject r = request();
        setObject(r, field, signatures.at(field), nullptr);
        verb(name, r);
        ASSERT_TRUE(env()->ExceptionCheck());
        EXPECT_EQ(exceptionMessage(env()), std::string("common_obj.") + field + " is null") << name;
    }
    jobject bare = newObject("com/zanvor/kelvra/testsupport/BareObject");
    verb("RUI_read", bare);
    EXPECT_EQ(takeException(), "java.lang.NoSuchFieldError");
    verb("RUI_init", nullptr);
    EXPECT_EQ(takeException(), "java.lang.NullPointerException");
    EXPECT_EQ(ruiCtl_VerbCount(), 0);
}

} // namespace
