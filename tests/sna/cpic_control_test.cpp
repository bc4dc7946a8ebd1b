// State and parameter checks, the control interface (side information, forced codes, call
// log, reset) and several callers at once.
#include <dirent.h>

#include <atomic>
#include <functional>
#include <set>
#include <thread>

#include "cpic_test_util.h"

using namespace cpictest;

namespace {

enum class Start { Unknown, Initialize, Send, Receive, Confirm, InitializeIncoming };

// Brings c into the state named; returns that state.
CM_INT32 prepare(Conv &c, Start setup) {
    switch (setup) {
    case Start::Unknown: return CM_RESET_STATE;
    case Start::Initialize: EXPECT_EQ(c.init(), CM_OK); return CM_INITIALIZE_STATE;
    case Start::Send: c.open(); return CM_SEND_STATE;
    case Start::Receive:
        c.open();
        EXPECT_EQ(c.call(cmptr), CM_OK);
        return CM_RECEIVE_STATE;
    case Start::Confirm: {
        CpicPartnerStep steps[] = {step(CPIC_STEP_WAIT_TURN), step(CPIC_STEP_CONFIRM)};
        cpicCtl_DefinePartner("ASKER", steps, 2);
        cpicCtl_DefineSideInfo("ASK", "ASKER");
        c.open("ASK");
        EXPECT_EQ(c.receive().status, CM_CONFIRM_RECEIVED);
        return CM_CONFIRM_STATE;
    }
    case Start::InitializeIncoming: {
        unsigned char name[] = {'L', 'O', 'C', 'A', 'L'};
        CM_INT32 length = 5;
        CM_RETURN_CODE rc = -1;
        cmsltp(name, &length, &rc);
        EXPECT_EQ(rc, CM_OK);
        EXPECT_EQ(c.call(cminic), CM_OK);
        return CM_INITIALIZE_INCOMING_STATE;
    }
    }
    return CM_RESET_STATE;
}

CM_RETURN_CODE sendLength(Conv &c, CM_INT32 length) {
    unsigned char b[4] = {};
    CM_INT32 rts = 77;
    CM_RETURN_CODE rc = -1;
    cmsend(c.id, b, &length, &rts, &rc);
    EXPECT_EQ(rts, 0);
    return rc;
}

CM_RETURN_CODE receiveLength(Conv &c, CM_INT32 requested) {
    unsigned char b[4] = {};
    CM_INT32 data = 77, length = 77, status = 77, rts = 77;
    CM_RETURN_CODE rc = -1;
    cmrcv(c.id, b, &requested, &data, &length, &status, &rts, &rc);
    EXPECT_EQ(data + length + status + rts, 0) << "outputs are cleared on errors";
    return rc;
}

CM_RETURN_CODE setTpName(Conv &c, std::size_t length) {
    std::vector<unsigned char> name(length + 1, 'T');
    CM_INT32 n = static_cast<CM_INT32>(length);
    CM_RETURN_CODE rc = -1;
    cmstpn(c.id, name.data(), &n, &rc);
    return rc;
}

TEST_F(CpicTest, CallsInTheWrongStateOrWithBadValuesChangeNothing) {
    using Call = std::function<CM_RETURN_CODE(Conv &)>;
    auto plain = [](void (*f)(unsigned char *, CM_RETURN_CODE *)) { return Call([f](Conv &c) { return c.call(f); }); };
    auto set = [](void (*f)(unsigned char *, CM_INT32 *, CM_RETURN_CODE *), CM_INT32 v) {
        return Call([f, v](Conv &c) { return c.set(f, v); });
    };
    Call send = [](Conv &c) { return sendLength(c, 1); };
    Call receive = [](Conv &c) { return receiveLength(c, 4); };
    Call confirm = [](Conv &c) { return c.confirm(); };
    Call sendError = [](Conv &c) { return c.sendError(); };
    const CM_RETURN_CODE S = CM_PROGRAM_STATE_CHECK, P = CM_PROGRAM_PARAMETER_CHECK;
    struct Case {
        const char *what;
        Start setup;
        Call call;
        CM_RETURN_CODE rc;
    } cases[] = {
        {"send before allocate", Start::Initialize, send, S},
        {"receive before allocate", Start::Initialize, receive, S},
        {"flush before allocate", Start::Initialize, plain(cmflus), S},
        {"prepare before allocate", Start::Initialize, plain(cmptr), S},
        {"confirmed before allocate", Start::Initialize, plain(cmcfmd), S},
        {"deallocate before allocate", Start::Initialize, plain(cmdeal), S},
        {"accept on outgoing", Start::Initialize, plain(cmacci), S},
        {"send error before allocate", Start::Initialize, sendError, S},
        {"request to send before allocate", Start::Initialize, plain(cmrts), S},
        {"conversation type 2", Start::Initialize, set(cmsct, 2), P},
        {"sync level 2", Start::Initialize, set(cmssl, 2), P},
        {"sync level -1", Start::Initialize, set(cmssl, -1), P},
        {"deallocate type 4", Start::Initialize, set(cmsdt, 4), P},
        {"deallocate type -1", Start::Initialize, set(cmsdt, -1), P},
        {"deallocate confirm, sync none", Start::Initialize, set(cmsdt, CM_DEALLOCATE_CONFIRM), P},
        {"send type 5", Start::Initialize, set(cmsst, 5), P},
        {"send and confirm, sync none", Start::Initialize, set(cmsst, CM_SEND_AND_CONFIRM), P},
        {"processing mode 2", Start::Initialize, set(cmspm, 2), P},
        {"receive type 2", Start::Initialize, set(cmsrt, 2), P},
        {"TP name length 0", Start::Initialize, [](Conv &c) { return setTpName(c, 0); }, P},
        {"TP name length 65", Start::Initialize, [](Conv &c) { return setTpName(c, 65); }, P},
        {"confirm with sync none", Start::Send, confirm, S},
        {"confirmed in send", Start::Send, plain(cmcfmd), S},
        {"allocate twice", Start::Send, plain(cmallc), S},
        {"conversation type after allocate", Start::Send, set(cmsct, CM_BASIC_CONVERSATION), S},
        {"sync level after allocate", Start::Send, set(cmssl, CM_CONFIRM), S},
        {"TP name after allocate", Start::Send, [](Conv &c) { return c.tpName("ECHOTP"); }, S},
        {"negative send length", Start::Send, [](Conv &c) { return sendLength(c, -1); }, P},
        {"negative requested length", Start::Send, [](Conv &c) { return receiveLength(c, -1); }, P},
        {"send in receive", Start::Receive, send, S},
        {"flush in receive", Start::Receive, plain(cmflus), S},
        {"prepare in receive", Start::Receive, plain(cmptr), S},
        {"deallocate flush in receive", Start::Receive, plain(cmdeal), S},
        {"send in confirm", Start::Confirm, send, S},
        {"receive in confirm", Start::Confirm, receive, S},
        {"prepare in confirm", Start::Confirm, plain(cmptr), S},
        {"allocate incoming", Start::InitializeIncoming, plain(cmallc), S},
        {"send before accept", Start::InitializeIncoming, send, S},
        {"receive before accept", Start::InitializeIncoming, receive, S},
        {"send, unknown id", Start::Unknown, send, P},
        {"receive, unknown id", Start::Unknown, receive, P},
        {"deallocate, unknown id", Start::Unknown, plain(cmdeal), P},
        {"cancel, unknown id", Start::Unknown, plain(cmcanc), P},
        {"send type, unknown id", Start::Unknown, set(cmsst, CM_BUFFER_DATA), P},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.what);
        cpicCtl_Reset();
        Conv c;
        CM_INT32 state = prepare(c, k.setup);
        EXPECT_EQ(k.call(c), k.rc);
        EXPECT_EQ(c.state(), state);
        EXPECT_EQ(calls().back().return_code, k.rc);
    }
}

TEST_F(CpicTest, CancelEndsAConversationInAnyState) {
    for (Start setup : {Start::Initialize, Start::Send, Start::Receive, Start::Confirm, Start::InitializeIncoming}) {
        cpicCtl_Reset();
        Conv c;
        prepare(c, setup);
        EXPECT_EQ(c.call(cmcanc), CM_OK);
        EXPECT_EQ(c.state(), CM_RESET_STATE);
        EXPECT_EQ(cpicCtl_ConversationCount(), 0);
    }
}

TEST_F(CpicTest, SideInformationNamesThePartner) {
    cpicCtl_DefineSideInfo("BRANCH", CPIC_ECHO_TP);
    std::set<std::vector<unsigned char>> ids;
    for (unsigned char pad : {' ', '\0'}) {
        std::vector<unsigned char> name = sdn("BRANCH", pad);
        Conv c;
        CM_RETURN_CODE rc = -1;
        cminit(c.id, name.data(), &rc);
        ASSERT_EQ(rc, CM_OK);
        EXPECT_NE(std::vector<unsigned char>(c.id, c.id + CM_CID_SIZE), std::vector<unsigned char>(CM_CID_SIZE, 0));
        ids.insert(std::vector<unsigned char>(c.id, c.id + CM_CID_SIZE));
        ASSERT_EQ(c.call(cmallc), CM_OK);
        ASSERT_EQ(c.send("via side info"), CM_OK);
        EXPECT_EQ(c.receive().data, "via side info");
        EXPECT_EQ(c.call(cmdeal), CM_OK);
    }
    EXPECT_EQ(ids.size(), 2u);

    Conv unknown;
    std::memset(unknown.id, 0xAA, sizeof unknown.id);
    EXPECT_EQ(unknown.init("NOWHERE"), CM_PROGRAM_PARAMETER_CHECK);
    EXPECT_EQ(std::vector<unsigned char>(unknown.id, unknown.id + CM_CID_SIZE), std::vector<unsigned char>(CM_CID_SIZE, 0));
    EXPECT_EQ(cpicCtl_ConversationCount(), 0);

    // A partner TP name nobody answers to.
    Conv c;
    ASSERT_EQ(c.init(), CM_OK);
    ASSERT_EQ(c.tpName("NOSUCHTP"), CM_OK);
    EXPECT_EQ(c.call(cmallc), CM_TPN_NOT_RECOGNIZED);
    EXPECT_EQ(c.state(), CM_RESET_STATE);
    EXPECT_EQ(cpicCtl_ConversationCount(), 0);

    cpicCtl_Reset();
    EXPECT_EQ(Conv().init("BRANCH"), CM_PROGRAM_PARAMETER_CHECK);
    EXPECT_EQ(Conv().init("ECHO"), CM_OK);
}

TEST_F(CpicTest, ForcedReturnCodeReplacesTheNextCallOnly) {
    Conv c;
    cpicCtl_ForceReturnCode("cminit", CM_PRODUCT_SPECIFIC_ERROR);
    EXPECT_EQ(c.init(), CM_PRODUCT_SPECIFIC_ERROR);
    EXPECT_EQ(cpicCtl_ConversationCount(), 0);
    c.open();

    cpicCtl_ForceReturnCode("cmsend", CM_RESOURCE_FAILURE_RETRY);
    CM_INT32 rts = -1;
    EXPECT_EQ(c.send("LOST", &rts), CM_RESOURCE_FAILURE_RETRY);
    EXPECT_EQ(rts, 0);
    EXPECT_EQ(c.state(), CM_SEND_STATE);
    cpicCtl_ForceReturnCode("cmrcv", CM_UNSUCCESSFUL);
    Received forced = c.receive();
    EXPECT_EQ(forced.rc, CM_UNSUCCESSFUL);
    EXPECT_EQ(forced.dataReceived + forced.length + forced.status + forced.rts, 0);
    EXPECT_EQ(c.state(), CM_SEND_STATE); // the turn was not given

    Received r = c.receive(); // the forced send sent nothing
    EXPECT_EQ(r.dataReceived, CM_NO_DATA_RECEIVED);
    EXPECT_EQ(r.status, CM_SEND_RECEIVED);
    EXPECT_EQ(c.send("KEPT"), CM_OK);
    EXPECT_EQ(c.receive().data, "KEPT");

    std::vector<CpicCallRecord> sends = calls("cmsend");
    ASSERT_EQ(sends.size(), 2u);
    EXPECT_EQ(sends[0].return_code, CM_RESOURCE_FAILURE_RETRY);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(sends[0].bytes), 4), "LOST");
}

TEST_F(CpicTest, CallLogRecordsWhatTheStackWasGiven) {
    Conv c;
    std::vector<unsigned char> name = sdn("ECHO", 0);
    CM_RETURN_CODE rc = -1;
    cminit(c.id, name.data(), &rc);
    ASSERT_EQ(rc, CM_OK);
    ASSERT_EQ(c.tpName("ECHOTP"), CM_OK);
    ASSERT_EQ(c.call(cmallc), CM_OK);
    std::string big(300, 'x');
    big[CPIC_LOG_BYTES - 1] = 'y';
    ASSERT_EQ(c.send(big), CM_OK);
    ASSERT_EQ(c.receive(500).length, 300);
    EXPECT_EQ(c.call(cmflus), CM_OK); // the echo's turn came with its record
    ASSERT_EQ(c.call(cmptr), CM_OK);
    EXPECT_EQ(c.call(cmflus), CM_PROGRAM_STATE_CHECK);

    std::vector<CpicCallRecord> log = calls();
    const char *expected[] = {"cminit", "cmstpn", "cmallc", "cmsend", "cmrcv", "cmflus", "cmptr", "cmflus"};
    ASSERT_EQ(log.size(), std::size(expected));
    for (std::size_t i = 0; i < log.size(); ++i) {
        EXPECT_STREQ(log[i].call, expected[i]);
        EXPECT_EQ(std::vector<unsigned char>(log[i].conversation_ID, log[i].conversation_ID + CM_CID_SIZE),
                  std::vector<unsigned char>(c.id, c.id + CM_CID_SIZE))
            << log[i].call;
    }
    EXPECT_EQ(log[0].byte_count, CM_SDN_SIZE);
    EXPECT_EQ(std::vector<unsigned char>(log[0].bytes, log[0].bytes + CM_SDN_SIZE), name);
    EXPECT_EQ(log[1].value, 6);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(log[1].bytes), 6), "ECHOTP");
    EXPECT_EQ(log[3].value, 300);
    EXPECT_EQ(log[3].byte_count, 300);
    EXPECT_EQ(log[3].bytes[CPIC_LOG_BYTES - 1], 'y');
    EXPECT_EQ(log[4].value, 500);
    EXPECT_EQ(log[7].return_code, CM_PROGRAM_STATE_CHECK);

    unsigned char local[] = {'M', 'E'};
    CM_INT32 length = 2;
    cmsltp(local, &length, &rc);
    CpicCallRecord last{};
    ASSERT_EQ(cpicCtl_GetCall(cpicCtl_CallCount() - 1, &last), 1);
    EXPECT_STREQ(last.call, "cmsltp");
    EXPECT_EQ(last.value, 2);
    EXPECT_EQ(std::vector<unsigned char>(last.conversation_ID, last.conversation_ID + CM_CID_SIZE),
              std::vector<unsigned char>(CM_CID_SIZE, 0));
    EXPECT_EQ(cpicCtl_GetCall(cpicCtl_CallCount(), &last), 0);

    cpicCtl_Reset();
    EXPECT_EQ(cpicCtl_CallCount(), 0);
}

TEST_F(CpicTest, ConversationsOnSeveralThreadsAtOnce) {
    constexpr int threads = 4, rounds = 25;
    std::atomic<int> failures{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([t, &failures] {
            for (int n = 0; n < rounds; ++n) {
                Conv c;
                std::string text = "T" + std::to_string(t) + "-" + std::to_string(n);
                bool ok = c.init() == CM_OK && c.call(cmallc) == CM_OK && c.send(text) == CM_OK;
                Received r = c.receive();
                ok = ok && r.rc == CM_OK && r.data == text && r.status == CM_SEND_RECEIVED && c.call(cmdeal) == CM_OK;
                if (!ok) ++failures;
            }
        });
    }
    for (std::thread &w : workers) w.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(cpicCtl_ConversationCount(), 0);
    EXPECT_EQ(cpicCtl_CallCount(), threads * rounds * 5);
}

std::size_t threadCount() {
    std::size_t n = 0;
    if (DIR *d = opendir("/proc/self/task")) {
        while (dirent *e = readdir(d)) {
            if (e->d_name[0] != '.') ++n;
        }
        closedir(d);
    }
    return n;
}

TEST_F(CpicTest, ResetWakesABlockedReceiveAndEndsEveryPartner) {
    const std::size_t before = threadCount();
    CpicPartnerStep hang[] = {step(CPIC_STEP_WAIT_TURN), step(CPIC_STEP_DELAY, 60000)};
    cpicCtl_DefinePartner("HANG", hang, 2);
    cpicCtl_DefineSideInfo("HANG", "HANG");
    Conv blocked, idle;
    blocked.open("HANG");
    idle.open();
    Received r{};
    std::thread receiver([&] { r = blocked.receive(); });
    while (blocked.state() == CM_SEND_STATE) std::this_thread::yield(); // now waiting
    cpicCtl_Reset();
    receiver.join();
    EXPECT_EQ(r.rc, CM_PRODUCT_SPECIFIC_ERROR);
    EXPECT_EQ(cpicCtl_ConversationCount(), 0);
    EXPECT_EQ(cpicCtl_CallCount(), 0); // a call the reset overtook is not logged
    EXPECT_EQ(threadCount(), before);
    EXPECT_EQ(idle.send("gone"), CM_PROGRAM_PARAMETER_CHECK);
}

} // namespace
