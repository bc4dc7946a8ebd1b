// Conversations with the built-in echo partner and with scripted partners.
#include <atomic>
#include <thread>

#include "cpic_test_util.h"

using namespace cpictest;

namespace {

TEST_F(CpicTest, EchoConversationFromInitToDeallocate) {
    Conv c;
    ASSERT_EQ(c.init(), CM_OK);
    EXPECT_EQ(c.state(), CM_INITIALIZE_STATE);
    EXPECT_EQ(c.tpName("ECHOTP"), CM_OK);
    ASSERT_EQ(c.call(cmallc), CM_OK);
    EXPECT_EQ(c.state(), CM_SEND_STATE);
    ASSERT_EQ(c.send("HELLO"), CM_OK);
    ASSERT_EQ(c.send("WORLD"), CM_OK);

    // Receiving in Send state gives the turn; the echo answers record by record, the last one
    // with the turn.
    Received r = c.receive();
    EXPECT_EQ(r.rc, CM_OK);
    EXPECT_EQ(r.data, "HELLO");
    EXPECT_EQ(r.dataReceived, CM_COMPLETE_DATA_RECEIVED);
    EXPECT_EQ(r.status, CM_NO_STATUS_RECEIVED);
    EXPECT_EQ(r.rts, CM_REQ_TO_SEND_NOT_RECEIVED);
    r = c.receive();
    EXPECT_EQ(r.data, "WORLD");
    EXPECT_EQ(r.status, CM_SEND_RECEIVED);
    EXPECT_EQ(c.state(), CM_SEND_STATE);

    // Nothing to echo: the turn comes back alone.
    r = c.receive();
    EXPECT_EQ(r.rc, CM_OK);
    EXPECT_EQ(r.dataReceived, CM_NO_DATA_RECEIVED);
    EXPECT_EQ(r.length, 0);
    EXPECT_EQ(r.status, CM_SEND_RECEIVED);

    EXPECT_EQ(c.call(cmdeal), CM_OK);
    EXPECT_EQ(c.state(), CM_RESET_STATE);
    EXPECT_EQ(cpicCtl_ConversationCount(), 0);
    EXPECT_EQ(c.send("late"), CM_PROGRAM_PARAMETER_CHECK); // forgotten
}

TEST_F(CpicTest, SendTypesActAsTheirNamesSay) {
    struct Case {
        CM_INT32 sendType;
        CM_INT32 syncLevel;
        CM_RETURN_CODE rc;
        CM_INT32 stateAfter;
    } cases[] = {
        {CM_BUFFER_DATA, CM_NONE, CM_OK, CM_SEND_STATE},
        {CM_SEND_AND_FLUSH, CM_NONE, CM_OK, CM_SEND_STATE},
        {CM_SEND_AND_CONFIRM, CM_CONFIRM, CM_OK, CM_SEND_STATE}, // the echo confirms
        {CM_SEND_AND_PREP_TO_RECEIVE, CM_NONE, CM_OK, CM_RECEIVE_STATE},
        {CM_SEND_AND_PREP_TO_RECEIVE, CM_CONFIRM, CM_OK, CM_RECEIVE_STATE}, // confirm, then the turn
        {CM_SEND_AND_DEALLOCATE, CM_NONE, CM_OK, CM_RESET_STATE},
        {CM_SEND_AND_DEALLOCATE, CM_CONFIRM, CM_OK, CM_RESET_STATE},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(testing::Message() << "send type " << k.sendType << " sync " << k.syncLevel);
        Conv c;
        ASSERT_EQ(c.init(), CM_OK);
        ASSERT_EQ(c.set(cmssl, k.syncLevel), CM_OK);
        ASSERT_EQ(c.call(cmallc), CM_OK);
        ASSERT_EQ(c.set(cmsst, k.sendType), CM_OK);
        EXPECT_EQ(c.send("REC"), k.rc);
        EXPECT_EQ(c.state(), k.stateAfter);
        if (k.stateAfter != CM_RESET_STATE) {
            Received r = c.receive();
            EXPECT_EQ(r.data, "REC");
            EXPECT_EQ(r.status, CM_SEND_RECEIVED);
            EXPECT_EQ(c.call(cmdeal), CM_OK);
        }
        EXPECT_EQ(cpicCtl_ConversationCount(), 0);
    }
}

TEST_F(CpicTest, LocalConfirmationAndConfirmedDeallocation) {
    Conv c;
    ASSERT_EQ(c.init(), CM_OK);
    ASSERT_EQ(c.set(cmssl, CM_CONFIRM), CM_OK);
    ASSERT_EQ(c.call(cmallc), CM_OK);
    ASSERT_EQ(c.send("A"), CM_OK);
    EXPECT_EQ(c.confirm(), CM_OK);
    EXPECT_EQ(c.state(), CM_SEND_STATE);
    ASSERT_EQ(c.call(cmptr), CM_OK); // confirm-send with this sync level
    EXPECT_EQ(c.receive().status, CM_SEND_RECEIVED);
    ASSERT_EQ(c.set(cmsdt, CM_DEALLOCATE_CONFIRM), CM_OK);
    EXPECT_EQ(c.call(cmdeal), CM_OK);
    EXPECT_EQ(cpicCtl_ConversationCount(), 0);
}

TEST_F(CpicTest, PartnerStatusesMoveTheLocalState) {
    struct Case {
        CpicStepKind confirmKind;
        CM_INT32 status;
        CM_INT32 confirmState;
        CM_INT32 afterConfirmed;
    } cases[] = {
        {CPIC_STEP_CONFIRM, CM_CONFIRM_RECEIVED, CM_CONFIRM_STATE, CM_RECEIVE_STATE},
        {CPIC_STEP_CONFIRM_DEALLOCATE, CM_CONFIRM_DEALLOC_RECEIVED, CM_CONFIRM_DEALLOCATE_STATE, CM_RESET_STATE},
    };
    for (const Case &k : cases) {
        cpicCtl_Reset();
        definePartner("ASKER", {step(CPIC_STEP_WAIT_TURN), sendStep("DATA"), step(k.confirmKind), step(CPIC_STEP_GIVE_TURN)},
                      "ASK");
        Conv c;
        c.open("ASK");
        Received r = c.receive();
        EXPECT_EQ(r.data, "DATA");
        EXPECT_EQ(r.status, k.status); // with the record it follows
        EXPECT_EQ(c.state(), k.confirmState);
        EXPECT_EQ(c.send("no"), CM_PROGRAM_STATE_CHECK);
        EXPECT_EQ(c.call(cmcfmd), CM_OK);
        EXPECT_EQ(c.state(), k.afterConfirmed);
        if (k.afterConfirmed == CM_RECEIVE_STATE) {
            EXPECT_EQ(c.receive().status, CM_SEND_RECEIVED);
        }
    }
}

TEST_F(CpicTest, SendErrorReachesTheOtherSide) {
    // Local error in Confirm state: the partner loses the turn and waits for it again.
    definePartner("ASKER", {step(CPIC_STEP_WAIT_TURN), sendStep("A"), step(CPIC_STEP_CONFIRM), sendStep("B"),
                            step(CPIC_STEP_GIVE_TURN)},
                  "ASK");
    Conv local;
    local.open("ASK");
    EXPECT_EQ(local.receive().status, CM_CONFIRM_RECEIVED);
    EXPECT_EQ(local.sendError(), CM_OK);
    EXPECT_EQ(local.state(), CM_SEND_STATE);
    Received r = local.receive();
    EXPECT_EQ(r.data, "B");
    EXPECT_EQ(r.status, CM_SEND_RECEIVED);

    // Partner error while it sends: reported between its records.
    definePartner("ERRING", {step(CPIC_STEP_WAIT_TURN), sendStep("A"), step(CPIC_STEP_SEND_ERROR), sendStep("B"),
                             step(CPIC_STEP_GIVE_TURN)},
                  "ERR");
    Conv sender;
    sender.open("ERR");
    r = sender.receive();
    EXPECT_EQ(r.data, "A");
    EXPECT_EQ(r.status, CM_NO_STATUS_RECEIVED);
    EXPECT_EQ(sender.receive().rc, CM_PROGRAM_ERROR_PURGING);
    EXPECT_EQ(sender.state(), CM_RECEIVE_STATE);
    EXPECT_EQ(sender.receive().data, "B");

    // Partner error as the answer to a confirmation: the partner takes the turn.
    definePartner("REFUSER", {step(CPIC_STEP_SEND_ERROR), sendStep("WHY"), step(CPIC_STEP_GIVE_TURN)}, "REF");
    Conv asker;
    ASSERT_EQ(asker.init("REF"), CM_OK);
    ASSERT_EQ(asker.set(cmssl, CM_CONFIRM), CM_OK);
    ASSERT_EQ(asker.call(cmallc), CM_OK);
    EXPECT_EQ(asker.confirm(), CM_PROGRAM_ERROR_PURGING);
    EXPECT_EQ(asker.state(), CM_RECEIVE_STATE);
    r = asker.receive();
    EXPECT_EQ(r.data, "WHY");
    EXPECT_EQ(r.status, CM_SEND_RECEIVED);

    // Local error in Receive state purges what is pending and takes the turn.
    Conv purger;
    purger.open("ERR");
    EXPECT_EQ(purger.receive(0).dataReceived, CM_INCOMPLETE_DATA_RECEIVED);
    EXPECT_EQ(purger.sendError(), CM_OK);
    EXPECT_EQ(purger.state(), CM_SEND_STATE);
    EXPECT_EQ(purger.call(cmdeal), CM_OK);
}

TEST_F(CpicTest, PartnerEndingIsReportedAndForgotten) {
    struct Case {
        const char *name;
        std::vector<CpicPartnerStep> script;
        std::vector<std::string> records; // received before the end
        CM_RETURN_CODE endCode;
    } cases[] = {
        {"deallocate", {step(CPIC_STEP_WAIT_TURN), sendStep("BYE"), step(CPIC_STEP_DEALLOCATE)}, {"BYE"},
         CM_DEALLOCATED_NORMAL},
        {"script end", {step(CPIC_STEP_WAIT_TURN), sendStep("X"), sendStep("Y")}, {"X", "Y"}, CM_DEALLOCATED_NORMAL},
        {"abend", {step(CPIC_STEP_WAIT_TURN), step(CPIC_STEP_ABEND)}, {}, CM_DEALLOCATED_ABEND},
        {"abend before the turn", {step(CPIC_STEP_ABEND)}, {}, CM_DEALLOCATED_ABEND},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.name);
        cpicCtl_Reset();
        definePartner("ENDER", k.script, "END");
        Conv c;
        c.open("END");
        for (const std::string &record : k.records) EXPECT_EQ(c.receive().data, record);
        Received r = c.receive();
        EXPECT_EQ(r.rc, k.endCode);
        EXPECT_EQ(r.dataReceived, CM_NO_DATA_RECEIVED);
        EXPECT_EQ(c.state(), CM_RESET_STATE);
        EXPECT_EQ(cpicCtl_ConversationCount(), 0);
    }

    // An abend reaches a program that holds the turn on its next send.
    definePartner("QUITTER", {step(CPIC_STEP_WAIT_TURN), step(CPIC_STEP_GIVE_TURN), step(CPIC_STEP_ABEND)}, "QUIT");
    Conv c;
    c.open("QUIT");
    EXPECT_EQ(c.receive().status, CM_SEND_RECEIVED);
    EXPECT_EQ(c.send("anyone?"), CM_DEALLOCATED_ABEND);
    EXPECT_EQ(cpicCtl_ConversationCount(), 0);
}

TEST_F(CpicTest, IncompleteRecordComesOverTwoReceives) {
    definePartner("SENDER", {step(CPIC_STEP_WAIT_TURN), sendStep("ABCDEFGHIJ"), step(CPIC_STEP_GIVE_TURN)}, "SND");
    Conv c;
    c.open("SND");
    CM_INT32 requested = 6;
    unsigned char buffer[16];
    std::memset(buffer, '.', sizeof buffer);
    Received r{};
    cmrcv(c.id, buffer, &requested, &r.dataReceived, &r.length, &r.status, &r.rts, &r.rc);
    EXPECT_EQ(r.rc, CM_OK);
    EXPECT_EQ(r.dataReceived, CM_INCOMPLETE_DATA_RECEIVED);
    EXPECT_EQ(r.length, 6);
    EXPECT_EQ(r.status, CM_NO_STATUS_RECEIVED); // the status waits for the end of the record
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buffer), sizeof buffer), "ABCDEF..........");

    Received none = c.receive(0);
    EXPECT_EQ(none.dataReceived, CM_INCOMPLETE_DATA_RECEIVED);
    EXPECT_EQ(none.length, 0);

    cmrcv(c.id, buffer, &requested, &r.dataReceived, &r.length, &r.status, &r.rts, &r.rc);
    EXPECT_EQ(r.dataReceived, CM_COMPLETE_DATA_RECEIVED);
    EXPECT_EQ(r.length, 4);
    EXPECT_EQ(r.status, CM_SEND_RECEIVED);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(buffer), sizeof buffer), "GHIJEF..........");
}

TEST_F(CpicTest, BlockingReceiveWaitsForTheDelayedPartner) {
    definePartner("SLOW", {step(CPIC_STEP_WAIT_TURN), step(CPIC_STEP_DELAY, 300), sendStep("LATE"), step(CPIC_STEP_GIVE_TURN)},
                  "SLOW");
    Conv c;
    c.open("SLOW");
    std::atomic<bool> returned{false};
    Received r{};
    std::thread receiver([&] {
        r = c.receive(); // gives the turn, then waits for the partner
        returned = true;
    });
    // The receive has given the turn and waits once the state is Receive; the partner is
    // still in its delay then.
    while (c.state() == CM_SEND_STATE) std::this_thread::yield();
    bool waitedForPartner = !returned;
    receiver.join();
    EXPECT_TRUE(waitedForPartner);
    EXPECT_EQ(r.rc, CM_OK);
    EXPECT_EQ(r.data, "LATE");
    EXPECT_EQ(r.status, CM_SEND_RECEIVED);

    // Receive-immediate does not wait.
    Conv other;
    other.open("SLOW");
    ASSERT_EQ(other.set(cmsrt, CM_RECEIVE_IMMEDIATE), CM_OK);
    Received immediate = other.receive();
    EXPECT_EQ(immediate.rc, CM_UNSUCCESSFUL);
    EXPECT_EQ(immediate.dataReceived, CM_NO_DATA_RECEIVED);
    EXPECT_EQ(other.state(), CM_RECEIVE_STATE);
}

TEST_F(CpicTest, RequestToSendIsReportedOnce) {
    definePartner("ASKING", {step(CPIC_STEP_WAIT_TURN), step(CPIC_STEP_REQUEST_TO_SEND), sendStep("R"),
                             step(CPIC_STEP_GIVE_TURN), step(CPIC_STEP_WAIT_TURN)},
                  "RTS");
    Conv c;
    c.open("RTS");
    Received r = c.receive();
    EXPECT_EQ(r.data, "R");
    EXPECT_EQ(r.rts, CM_REQ_TO_SEND_RECEIVED);
    CM_INT32 rts = -1;
    EXPECT_EQ(c.send("x", &rts), CM_OK);
    EXPECT_EQ(rts, CM_REQ_TO_SEND_NOT_RECEIVED);

    // The local side's request is accepted where CPI-C allows it.
    ASSERT_EQ(c.call(cmptr), CM_OK);
    EXPECT_EQ(c.call(cmrts), CM_OK);
    EXPECT_EQ(calls("cmrts").size(), 1u);
}

TEST_F(CpicTest, IncomingConversationRunsThePartnerScript) {
    definePartner("CLIENT", {sendStep("PING"), step(CPIC_STEP_GIVE_TURN), step(CPIC_STEP_WAIT_TURN), sendStep("THANKS")},
                  nullptr);
    Conv c;
    EXPECT_EQ(c.call(cminic), CM_PROGRAM_STATE_CHECK); // no local TP name yet
    EXPECT_EQ(cpicCtl_ConversationCount(), 0);

    std::vector<unsigned char> name = bytes("BRANCHTP");
    CM_INT32 length = static_cast<CM_INT32>(name.size());
    CM_RETURN_CODE rc = -1;
    cmsltp(name.data(), &length, &rc);
    ASSERT_EQ(rc, CM_OK);
    ASSERT_EQ(c.call(cminic), CM_OK);
    EXPECT_EQ(c.state(), CM_INITIALIZE_INCOMING_STATE);

    cpicCtl_QueueIncoming("OTHERTP", "CLIENT"); // not for us
    cpicCtl_QueueIncoming("BRANCHTP", "CLIENT");
    ASSERT_EQ(c.call(cmacci), CM_OK);
    EXPECT_EQ(c.state(), CM_RECEIVE_STATE);
    Received r = c.receive();
    EXPECT_EQ(r.data, "PING");
    EXPECT_EQ(r.status, CM_SEND_RECEIVED);
    ASSERT_EQ(c.send("PONG"), CM_OK);
    EXPECT_EQ(c.receive().data, "THANKS");
    EXPECT_EQ(c.receive().rc, CM_DEALLOCATED_NORMAL);

    // Nothing more queued for this name: the accept times out.
    cpicCtl_SetAcceptTimeout(50);
    Conv waiting;
    ASSERT_EQ(waiting.call(cminic), CM_OK);
    EXPECT_EQ(waiting.call(cmacci), CM_PRODUCT_SPECIFIC_ERROR);
    EXPECT_EQ(waiting.state(), CM_INITIALIZE_INCOMING_STATE);
    EXPECT_EQ(waiting.call(cmcanc), CM_OK);
}

TEST_F(CpicTest, IncomingFromTheEchoPartnerGivesTheTurnAtOnce) {
    std::vector<unsigned char> name = bytes("LOCAL");
    CM_INT32 length = static_cast<CM_INT32>(name.size());
    CM_RETURN_CODE rc = -1;
    cmsltp(name.data(), &length, &rc);
    ASSERT_EQ(rc, CM_OK);
    cpicCtl_QueueIncoming("LOCAL", CPIC_ECHO_TP);
    Conv c;
    ASSERT_EQ(c.call(cminic), CM_OK);
    ASSERT_EQ(c.call(cmacci), CM_OK);
    EXPECT_EQ(c.receive().status, CM_SEND_RECEIVED);
    ASSERT_EQ(c.send("ECHO ME"), CM_OK);
    EXPECT_EQ(c.receive().data, "ECHO ME");
    EXPECT_EQ(c.call(cmdeal), CM_OK);
}

} // namespace
