// The stand-in LUA RUI stack: verb checks, sessions, the simulated host, verbs that wait,
// both completion modes, the control interface and cleanup.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "lua.h"
#include "rui_control.h"
#include "win32api.h"
#ifndef _WIN32
#include "win32emu_debug.h"
#endif

namespace {

unsigned char byteOf(LUA_FLAG2 f) {
    unsigned char b;
    std::memcpy(&b, &f, 1);
    return b;
}

template <class T> std::string bytes(const T &v) {
    return std::string(reinterpret_cast<const char *>(&v), sizeof v);
}

// One verb record with its own completion event and data buffer.
struct Verb {
    LUA_VERB_RECORD rec{};
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    unsigned char buffer[300]{};

    explicit Verb(uint16_t opcode, uint32_t sid = 0) {
        rec.common.lua_verb = LUA_VERB_RUI;
        rec.common.lua_verb_length = opcode == LUA_OPCODE_RUI_BID ? LUA_BID_LENGTH : LUA_COMMON_LENGTH;
        rec.common.lua_opcode = opcode;
        rec.common.lua_sid = sid;
        rec.common.lua_post_handle = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(event));
        if (opcode == LUA_OPCODE_RUI_READ) {
            rec.common.lua_data_ptr = buffer;
            rec.common.lua_max_length = sizeof buffer;
        }
    }
    Verb(const Verb &) = delete;
    ~Verb() { CloseHandle(event); }

    void luName(const char *name) {
        std::memset(rec.common.lua_luname, ' ', sizeof rec.common.lua_luname);
        std::memcpy(rec.common.lua_luname, name, std::strlen(name));
    }
    void data(const char *text) {
        rec.common.lua_data_ptr = reinterpret_cast<unsigned char *>(const_cast<char *>(text));
        rec.common.lua_data_length = static_cast<uint16_t>(std::strlen(text));
    }
    // Issues the verb; true when it will complete through the event.
    bool issue() {
        RUI(&rec);
        return (byteOf(rec.common.lua_flag2) & 0x40) != 0;
    }
    bool signalled(DWORD ms = 5000) { return WaitForSingleObject(event, ms) == WAIT_OBJECT_0; }
    // Issues the verb and waits for it however it completes.
    void run() {
        if (issue()) {
            ASSERT_TRUE(signalled());
        }
    }
    // By value: the packed field is not aligned for a reference.
    uint32_t sec() const { return rec.common.lua_sec_rc; }
    std::string received() const {
        return std::string(reinterpret_cast<const char *>(buffer), rec.common.lua_data_length);
    }
};

class RuiTest : public ::testing::Test {
protected:
    void SetUp() override {
        ruiCtl_Reset();
#ifndef _WIN32
        handles = win32emu_OpenHandleCount();
#endif
    }
    void TearDown() override {
        ruiCtl_Reset();
        EXPECT_EQ(ruiCtl_SessionCount(), 0);
        EXPECT_EQ(ruiCtl_OutstandingCount(), 0);
#ifndef _WIN32
        EXPECT_EQ(win32emu_OpenHandleCount(), handles);
#endif
    }

    static uint32_t open(const char *lu = RUI_DEMO_LU) {
        Verb v(LUA_OPCODE_RUI_INIT);
        v.luName(lu);
        v.run();
        EXPECT_EQ(v.rec.common.lua_prim_rc, LUA_OK) << lu;
        return v.rec.common.lua_sid;
    }
    static void write(uint32_t sid, const char *text) {
        Verb v(LUA_OPCODE_RUI_WRITE, sid);
        v.rec.common.lua_flag1.lu_norm = 1;
        v.data(text);
        v.run();
        EXPECT_EQ(v.rec.common.lua_prim_rc, LUA_OK);
    }
    static void queue(uint32_t sid, const char *text, unsigned char type, LUA_FLAG2 flow) {
        RuiHostUnit u{};
        u.data = reinterpret_cast<const unsigned char *>(text);
        u.length = static_cast<uint16_t>(std::strlen(text));
        u.message_type = type;
        u.th.flags_fid = 2;
        u.th.snf[1] = 9;
        u.rh.bci = 1;
        u.flags = flow;
        ruiCtl_QueueHostData(sid, &u);
    }

    DWORD handles = 0;
};

// Verb, length, opcode, LU and session checks, each against one open session on RUI_DEMO_LU.
struct CheckCase {
    const char *name;
    uint16_t opcode;
    std::function<void(Verb &, uint32_t sid)> prepare;
    uint16_t prim;
    uint32_t sec;
    int sessionsAfter;
};

TEST_F(RuiTest, VerbAndSessionChecks) {
    const CheckCase cases[] = {
        {"second LU", LUA_OPCODE_RUI_INIT, [](Verb &v, uint32_t) { v.luName(RUI_SECOND_LU); },
         LUA_OK, LUA_SEC_OK, 2},
        {"LU added by control", LUA_OPCODE_RUI_INIT,
         [](Verb &v, uint32_t) { ruiCtl_AddLu("EXTRA"); v.luName("EXTRA"); }, LUA_OK, LUA_SEC_OK, 2},
        {"NUL padded name", LUA_OPCODE_RUI_INIT,
         [](Verb &v, uint32_t) { std::memcpy(v.rec.common.lua_luname, "LU0TWO\0\0", 8); }, LUA_OK, LUA_SEC_OK, 2},
        {"unknown LU", LUA_OPCODE_RUI_INIT, [](Verb &v, uint32_t) { v.luName("NOSUCH"); },
         LUA_PARAMETER_CHECK, LUA_INVALID_LUNAME, 1},
        {"name differs in case", LUA_OPCODE_RUI_INIT, [](Verb &v, uint32_t) { v.luName("lu0demo"); },
         LUA_PARAMETER_CHECK, LUA_INVALID_LUNAME, 1},
        {"LU in use", LUA_OPCODE_RUI_INIT, [](Verb &v, uint32_t) { v.luName(RUI_DEMO_LU); },
         LUA_STATE_CHECK, LUA_LU_IN_USE, 1},
        {"term", LUA_OPCODE_RUI_TERM, [](Verb &v, uint32_t sid) { v.rec.common.lua_sid = sid; },
         LUA_OK, LUA_SEC_OK, 0},
        {"term unknown session", LUA_OPCODE_RUI_TERM, [](Verb &v, uint32_t sid) { v.rec.common.lua_sid = sid + 7; },
         LUA_PARAMETER_CHECK, LUA_BAD_SESSION_ID, 1},
        {"term session 0", LUA_OPCODE_RUI_TERM, [](Verb &, uint32_t) {}, LUA_PARAMETER_CHECK, LUA_BAD_SESSION_ID, 1},
        {"write unknown session", LUA_OPCODE_RUI_WRITE, [](Verb &v, uint32_t sid) { v.rec.common.lua_sid = sid + 7; },
         LUA_PARAMETER_CHECK, LUA_BAD_SESSION_ID, 1},
        {"read unknown session", LUA_OPCODE_RUI_READ, [](Verb &v, uint32_t sid) { v.rec.common.lua_sid = sid + 7; },
         LUA_PARAMETER_CHECK, LUA_BAD_SESSION_ID, 1},
        {"bid unknown session", LUA_OPCODE_RUI_BID, [](Verb &v, uint32_t sid) { v.rec.common.lua_sid = sid + 7; },
         LUA_PARAMETER_CHECK, LUA_BAD_SESSION_ID, 1},
        {"wrong verb", LUA_OPCODE_RUI_INIT,
         [](Verb &v, uint32_t) { v.rec.common.lua_verb = 0x51; v.luName(RUI_SECOND_LU); }, LUA_INVALID_VERB, LUA_SEC_OK, 1},
        {"short record", LUA_OPCODE_RUI_INIT,
         [](Verb &v, uint32_t) { v.rec.common.lua_verb_length = 67; v.luName(RUI_SECOND_LU); },
         LUA_PARAMETER_CHECK, LUA_VERB_LENGTH_INVALID, 1},
        {"bid without peek area", LUA_OPCODE_RUI_BID,
         [](Verb &v, uint32_t sid) { v.rec.common.lua_sid = sid; v.rec.common.lua_verb_length = LUA_COMMON_LENGTH; },
         LUA_PARAMETER_CHECK, LUA_VERB_LENGTH_INVALID, 1},
        {"unknown opcode", 0x8005, [](Verb &v, uint32_t sid) { v.rec.common.lua_sid = sid; },
         LUA_PARAMETER_CHECK, LUA_INVALID_OPCODE, 1},
        {"write without data", LUA_OPCODE_RUI_WRITE,
         [](Verb &v, uint32_t sid) { v.rec.common.lua_sid = sid; v.rec.common.lua_data_length = 5; },
         LUA_PARAMETER_CHECK, LUA_BAD_DATA_PTR, 1},
        {"read without buffer", LUA_OPCODE_RUI_READ,
         [](Verb &v, uint32_t sid) { v.rec.common.lua_sid = sid; v.rec.common.lua_data_ptr = nullptr; },
         LUA_PARAMETER_CHECK, LUA_BAD_DATA_PTR, 1},
    };
    for (const CheckCase &c : cases) {
        SCOPED_TRACE(c.name);
        ruiCtl_Reset();
        uint32_t sid = open();
        Verb v(c.opcode);
        c.prepare(v, sid);
        EXPECT_FALSE(v.issue()); // every check answers at once
        EXPECT_EQ(v.rec.common.lua_prim_rc, c.prim);
        EXPECT_EQ(v.sec(), c.sec);
        EXPECT_EQ(ruiCtl_SessionCount(), c.sessionsAfter);
        if (c.opcode == LUA_OPCODE_RUI_INIT && c.prim == LUA_OK) {
            EXPECT_NE(v.rec.common.lua_sid, 0u);
            EXPECT_NE(v.rec.common.lua_sid, sid);
        }
    }
}

// Write, then read the host's default answer, in each completion mode.
struct ModeCase {
    const char *name;
    RuiCompletion mode;
    int delayMs;
};

class RuiModeTest : public RuiTest, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(RuiModeTest, WriteThenReadHostAnswer) {
    ruiCtl_SetCompletion(GetParam().mode, GetParam().delayMs);
    const bool async = GetParam().mode == RUI_COMPLETE_ASYNC;
    uint32_t sid = open();
    ASSERT_NE(sid, 0u);

    const char *texts[] = {"HELLO", "SECOND"};
    for (int i = 0; i < 2; ++i) {
        Verb w(LUA_OPCODE_RUI_WRITE, sid);
        w.data(texts[i]);
        w.rec.common.lua_flag1.lu_norm = 1;
        w.rec.common.lua_prim_rc = 0x7777; // the log must show it as passed
        w.rec.common.lua_rh.bci = 1;
        w.rec.common.lua_rh.eci = 1;
        w.rec.common.lua_rh.dr1i = 1;
        LUA_RH sentRh = w.rec.common.lua_rh;
        ASSERT_EQ(w.issue(), async);
        if (async) {
            ASSERT_TRUE(w.signalled());
        }
        EXPECT_EQ(w.rec.common.lua_prim_rc, LUA_OK);
        EXPECT_EQ(w.rec.common.lua_sid, sid);
        EXPECT_EQ(w.rec.common.lua_th.flags_fid, 2);
        EXPECT_EQ(w.rec.common.lua_th.snf[0], 0);
        EXPECT_EQ(w.rec.common.lua_th.snf[1], i + 1);
        EXPECT_EQ(bytes(w.rec.common.lua_rh), bytes(sentRh));
        EXPECT_EQ(byteOf(w.rec.common.lua_flag2), async ? 0x41 : 0x01);
    }
    for (int i = 0; i < 2; ++i) {
        Verb r(LUA_OPCODE_RUI_READ, sid);
        r.run();
        EXPECT_EQ(r.rec.common.lua_prim_rc, LUA_OK);
        EXPECT_EQ(r.sec(), LUA_SEC_OK);
        EXPECT_EQ(r.received(), std::string("HOST REPLY TO ") + texts[i]);
        EXPECT_EQ(r.rec.common.lua_message_type, LUA_MESSAGE_TYPE_LU_DATA);
        EXPECT_EQ(byteOf(r.rec.common.lua_flag2) & 0x0F, 0x01);
        unsigned char th0;
        std::memcpy(&th0, &r.rec.common.lua_th, 1);
        EXPECT_EQ(th0, 0x2C);
        EXPECT_EQ(r.rec.common.lua_th.snf[1], i + 1);
        EXPECT_EQ(r.rec.common.lua_rh.rri, 0);
        EXPECT_EQ(r.rec.common.lua_rh.bci, 1);
        EXPECT_EQ(r.rec.common.lua_rh.eci, 1);
    }

    RuiVerbLog entry{};
    ASSERT_EQ(ruiCtl_VerbCount(), 5); // init, two writes, two reads
    ASSERT_EQ(ruiCtl_GetVerb(1, &entry), 1);
    EXPECT_EQ(entry.record.common.lua_opcode, LUA_OPCODE_RUI_WRITE);
    EXPECT_EQ(entry.record.common.lua_prim_rc, 0x7777);
    EXPECT_EQ(entry.had_data_ptr, 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(entry.data), static_cast<size_t>(entry.data_count)), "HELLO");
    EXPECT_EQ(entry.completed_async, async ? 1 : 0);
    EXPECT_EQ(ruiCtl_GetVerb(5, &entry), 0);
}

INSTANTIATE_TEST_SUITE_P(Modes, RuiModeTest,
                         ::testing::Values(ModeCase{"Inline", RUI_COMPLETE_INLINE, 0},
                                           ModeCase{"AsyncAtOnce", RUI_COMPLETE_ASYNC, 0},
                                           ModeCase{"AsyncDelayed", RUI_COMPLETE_ASYNC, 20}),
                         [](const auto &param) { return std::string(param.param.name); });

TEST_F(RuiTest, LongDataIsCutInTheDefaultAnswer) {
    uint32_t sid = open();
    std::string text(300, 'x');
    write(sid, text.c_str());
    Verb r(LUA_OPCODE_RUI_READ, sid);
    r.run();
    EXPECT_EQ(r.rec.common.lua_data_length, 256);
    EXPECT_EQ(r.received(), ("HOST REPLY TO " + text).substr(0, 256));
}

TEST_F(RuiTest, NowaitWithNothingWaitingFailsAtOnce) {
    uint32_t sid = open();
    for (int opcode : {LUA_OPCODE_RUI_READ, LUA_OPCODE_RUI_BID}) {
        Verb v(static_cast<uint16_t>(opcode), sid);
        v.rec.common.lua_flag1.nowait = 1;
        EXPECT_FALSE(v.issue());
        EXPECT_EQ(v.rec.common.lua_prim_rc, LUA_UNSUCCESSFUL);
        EXPECT_EQ(v.sec(), LUA_NO_DATA);
        EXPECT_FALSE(v.signalled(0));
    }
}

TEST_F(RuiTest, ReadWaitsWhileAnotherThreadWrites) {
    uint32_t sid = open();
    Verb r(LUA_OPCODE_RUI_READ, sid);
    ASSERT_TRUE(r.issue());
    EXPECT_EQ(ruiCtl_OutstandingCount(), 1);
    EXPECT_FALSE(r.signalled(0));

    std::thread writer([sid] { write(sid, "FROM THREAD"); });
    ASSERT_TRUE(r.signalled());
    writer.join();
    EXPECT_EQ(r.rec.common.lua_prim_rc, LUA_OK);
    EXPECT_EQ(r.received(), "HOST REPLY TO FROM THREAD");
    EXPECT_EQ(ruiCtl_OutstandingCount(), 0);
}

TEST_F(RuiTest, ReadChoosesByFlow) {
    uint32_t sid = open();
    LUA_FLAG2 sscp{};
    sscp.sscp_norm = 1;
    queue(sid, "SSCP DATA", LUA_MESSAGE_TYPE_SSCP_DATA, sscp);

    Verb luOnly(LUA_OPCODE_RUI_READ, sid);
    luOnly.rec.common.lua_flag1.lu_norm = 1;
    luOnly.rec.common.lua_flag1.nowait = 1;
    luOnly.run();
    EXPECT_EQ(luOnly.sec(), LUA_NO_DATA);

    Verb sscpRead(LUA_OPCODE_RUI_READ, sid);
    sscpRead.rec.common.lua_flag1.sscp_norm = 1;
    sscpRead.run();
    EXPECT_EQ(sscpRead.rec.common.lua_prim_rc, LUA_OK);
    EXPECT_EQ(sscpRead.received(), "SSCP DATA");
    EXPECT_EQ(sscpRead.rec.common.lua_message_type, LUA_MESSAGE_TYPE_SSCP_DATA);
    EXPECT_EQ(byteOf(sscpRead.rec.common.lua_flag2), 0x04);
}

// A bid, issued before or after the data arrives, peeks without consuming.
TEST_F(RuiTest, BidPeeksWithoutConsuming) {
    for (bool dataFirst : {true, false}) {
        SCOPED_TRACE(dataFirst ? "data first" : "bid first");
        ruiCtl_Reset();
        uint32_t sid = open();
        LUA_FLAG2 sscp{};
        sscp.sscp_norm = 1;
        Verb bid(LUA_OPCODE_RUI_BID, sid);
        bid.rec.common.lua_max_length = 33;
        std::memset(bid.rec.specific.lua_peek_data, 0xEE, 12);
        if (dataFirst) {
            queue(sid, "ABCDEFGHIJKLMNOPQRST", LUA_MESSAGE_TYPE_SSCP_DATA, sscp);
            EXPECT_FALSE(bid.issue());
        } else {
            ASSERT_TRUE(bid.issue());
            Verb second(LUA_OPCODE_RUI_BID, sid);
            second.run();
            EXPECT_EQ(second.rec.common.lua_prim_rc, LUA_STATE_CHECK);
            EXPECT_EQ(second.sec(), LUA_BID_ALREADY_ENABLED);
            queue(sid, "ABCDEFGHIJKLMNOPQRST", LUA_MESSAGE_TYPE_SSCP_DATA, sscp);
            ASSERT_TRUE(bid.signalled());
        }
        EXPECT_EQ(bid.rec.common.lua_prim_rc, LUA_OK);
        EXPECT_EQ(std::string(reinterpret_cast<const char *>(bid.rec.specific.lua_peek_data), 12), "ABCDEFGHIJKL");
        EXPECT_EQ(bid.rec.common.lua_data_length, 20);
        EXPECT_EQ(bid.rec.common.lua_max_length, 33);
        EXPECT_EQ(bid.rec.common.lua_message_type, LUA_MESSAGE_TYPE_SSCP_DATA);
        EXPECT_EQ(byteOf(bid.rec.common.lua_flag2) & 0xBF, 0x84);
        EXPECT_EQ(bid.rec.common.lua_th.snf[1], 9);

        Verb r(LUA_OPCODE_RUI_READ, sid);
        r.rec.common.lua_flag1.nowait = 1;
        r.run();
        EXPECT_EQ(r.received(), "ABCDEFGHIJKLMNOPQRST");
    }
}

TEST_F(RuiTest, ScriptedAnswersThenDefault) {
    const unsigned char first[] = {0x01, 0x02, 0x03};
    RuiHostUnit script[3] = {};
    script[0].data = first;
    script[0].length = 3;
    script[0].message_type = LUA_MESSAGE_TYPE_RSP;
    script[0].rh.rri = 1;
    script[0].flags.lu_exp = 1;
    // script[1] stays empty: the host does not answer the second write
    script[2].data = reinterpret_cast<const unsigned char *>("THIRD");
    script[2].length = 5;
    script[2].message_type = LUA_MESSAGE_TYPE_LU_DATA;
    script[2].flags.lu_norm = 1;
    ruiCtl_ScriptHostAnswers(script, 3);

    uint32_t sid = open();
    for (const char *text : {"1", "2", "3", "4"}) write(sid, text);

    const struct {
        std::string data;
        unsigned char type;
        unsigned char flow;
    } expected[] = {{"\x01\x02\x03", LUA_MESSAGE_TYPE_RSP, 0x02},
                    {"THIRD", LUA_MESSAGE_TYPE_LU_DATA, 0x01},
                    {"HOST REPLY TO 4", LUA_MESSAGE_TYPE_LU_DATA, 0x01}};
    for (const auto &e : expected) {
        Verb r(LUA_OPCODE_RUI_READ, sid);
        r.run();
        EXPECT_EQ(r.received(), e.data);
        EXPECT_EQ(r.rec.common.lua_message_type, e.type);
        EXPECT_EQ(byteOf(r.rec.common.lua_flag2), e.flow | (r.rec.common.lua_flag2.async ? 0x40 : 0));
    }
    EXPECT_EQ(script[0].rh.rri, 1); // the script is copied, not consumed from the caller
}

TEST_F(RuiTest, ForcedCodesReplaceOneVerb) {
    const struct {
        uint16_t opcode;
        uint16_t prim;
        uint32_t sec;
    } cases[] = {{LUA_OPCODE_RUI_INIT, LUA_COMM_SUBSYSTEM_ABENDED, 0},
                 {LUA_OPCODE_RUI_WRITE, LUA_SESSION_FAILURE, 0x11},
                 {LUA_OPCODE_RUI_READ, LUA_NEGATIVE_RSP, 0x08460000},
                 {LUA_OPCODE_RUI_TERM, LUA_STATE_CHECK, 0x22}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.opcode);
        ruiCtl_Reset();
        uint32_t sid = c.opcode == LUA_OPCODE_RUI_INIT ? 0 : open();
        ruiCtl_ForceReturnCode(c.opcode, c.prim, c.sec);
        Verb v(c.opcode, sid);
        v.luName(RUI_DEMO_LU);
        v.data("DATA");
        v.rec.common.lua_max_length = 5;
        v.run();
        EXPECT_EQ(v.rec.common.lua_prim_rc, c.prim);
        EXPECT_EQ(v.sec(), c.sec);
        EXPECT_EQ(v.rec.common.lua_sid, sid);
        EXPECT_EQ(v.rec.common.lua_data_length, 4);
        EXPECT_EQ(ruiCtl_SessionCount(), sid ? 1 : 0);
        EXPECT_EQ(ruiCtl_OutstandingCount(), 0);

        Verb again(c.opcode, sid); // only the next verb is forced
        again.luName(RUI_DEMO_LU);
        again.data("DATA");
        again.rec.common.lua_flag1.nowait = 1;
        again.run();
        EXPECT_NE(again.rec.common.lua_prim_rc, c.prim);
    }
}

// The buffer is never written past lua_max_length, whatever length the stack reports.
TEST_F(RuiTest, ShortBufferAndReportedLength) {
    const struct {
        const char *name;
        uint16_t maxLength;
        int reported; // < 0: none forced
        uint16_t expectLength;
        uint32_t expectSec;
    } cases[] = {{"fits", 40, -1, 29, LUA_SEC_OK},
                 {"exact", 29, -1, 29, LUA_SEC_OK},
                 {"truncated", 8, -1, 8, LUA_DATA_TRUNCATED},
                 {"zero buffer", 0, -1, 0, LUA_DATA_TRUNCATED},
                 {"claims more", 8, 200, 200, LUA_DATA_TRUNCATED},
                 {"claims more than fits", 40, 100, 100, LUA_SEC_OK}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ruiCtl_Reset();
        uint32_t sid = open();
        write(sid, "0123456789ABCDE"); // answer: 29 bytes
        if (c.reported >= 0) ruiCtl_ReportReadLength(static_cast<uint16_t>(c.reported));
        Verb r(LUA_OPCODE_RUI_READ, sid);
        std::memset(r.buffer, 0xCC, sizeof r.buffer);
        r.rec.common.lua_max_length = c.maxLength;
        r.run();
        EXPECT_EQ(r.rec.common.lua_prim_rc, LUA_OK);
        EXPECT_EQ(r.sec(), c.expectSec);
        EXPECT_EQ(r.rec.common.lua_data_length, c.expectLength);
        std::string answer = "HOST REPLY TO 0123456789ABCDE";
        size_t copied = std::min<size_t>(c.maxLength, answer.size());
        EXPECT_EQ(std::string(reinterpret_cast<const char *>(r.buffer), copied), answer.substr(0, copied));
        for (size_t i = copied; i < sizeof r.buffer; ++i) ASSERT_EQ(r.buffer[i], 0xCC) << i;
    }
}

// Waiting verbs are finished and signalled when their session ends or the stack resets.
TEST_F(RuiTest, EndingSessionFinishesWaitingVerbs) {
    const struct {
        const char *name;
        bool reset;
        uint16_t prim;
        uint32_t sec;
    } cases[] = {{"term", false, LUA_SESSION_FAILURE, LUA_SESSION_ENDED},
                 {"reset", true, LUA_CANCELLED, LUA_SEC_OK}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ruiCtl_Reset();
        uint32_t sid = open();
        Verb read(LUA_OPCODE_RUI_READ, sid);
        Verb bid(LUA_OPCODE_RUI_BID, sid);
        ASSERT_TRUE(read.issue());
        ASSERT_TRUE(bid.issue());
        EXPECT_EQ(ruiCtl_OutstandingCount(), 2);
        if (c.reset) {
            ruiCtl_Reset();
        } else {
            Verb term(LUA_OPCODE_RUI_TERM, sid);
            term.run();
            EXPECT_EQ(term.rec.common.lua_prim_rc, LUA_OK);
            EXPECT_EQ(term.sec(), LUA_SEC_OK);
        }
        for (Verb *v : {&read, &bid}) {
            ASSERT_TRUE(v->signalled());
            EXPECT_EQ(v->rec.common.lua_prim_rc, c.prim);
            EXPECT_EQ(v->sec(), c.sec);
        }
        EXPECT_EQ(ruiCtl_SessionCount(), 0);
        EXPECT_EQ(ruiCtl_OutstandingCount(), 0);
    }
    EXPECT_NE(open(), 0u); // the default LU is free again
}

TEST_F(RuiTest, ResetCancelsDelayedVerbAndRestoresDefaults) {
    ruiCtl_AddLu("EXTRA");
    ruiCtl_SetCompletion(RUI_COMPLETE_ASYNC, 60000);
    Verb init(LUA_OPCODE_RUI_INIT);
    init.luName("EXTRA");
    ASSERT_TRUE(init.issue());
    EXPECT_EQ(init.rec.common.lua_prim_rc, LUA_IN_PROGRESS);
    ruiCtl_Reset();
    ASSERT_TRUE(init.signalled(0));
    EXPECT_EQ(init.rec.common.lua_prim_rc, LUA_CANCELLED);
    EXPECT_EQ(ruiCtl_VerbCount(), 0);

    Verb again(LUA_OPCODE_RUI_INIT); // inline again, and the added LU is gone
    again.luName("EXTRA");
    EXPECT_FALSE(again.issue());
    EXPECT_EQ(again.sec(), LUA_INVALID_LUNAME);
}

#ifndef _WIN32
// The worker thread stops at exit even with verbs outstanding, without a reset.
TEST(RuiExitTest, ExitWithOutstandingVerbs) {
    ruiCtl_Reset();
    EXPECT_EXIT(
        {
            Verb init(LUA_OPCODE_RUI_INIT);
            init.luName(RUI_DEMO_LU);
            init.run();
            Verb read(LUA_OPCODE_RUI_READ, init.rec.common.lua_sid);
            read.issue();
            ruiCtl_SetCompletion(RUI_COMPLETE_ASYNC, 60000);
            Verb w(LUA_OPCODE_RUI_WRITE, init.rec.common.lua_sid);
            w.issue();
            std::exit(3);
        },
        ::testing::ExitedWithCode(3), "");
}
#endif

} // namespace
