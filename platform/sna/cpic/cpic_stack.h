// Internal state of the stand-in CPI-C stack.
// One mutex guards all of it. A call that must wait (receive, confirmation, accept) waits on its
// conversation's condition variable, which releases the mutex, so other conversations go on.
#ifndef SNA_CPIC_STACK_H
#define SNA_CPIC_STACK_H

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "cpic.h"
#include "cpic_control.h"

namespace cpic {

using Cid = std::array<unsigned char, CM_CID_SIZE>;
using Bytes = std::vector<unsigned char>;

// What travels from one end of a conversation to the other, in order.
enum class Kind {
    Data,           // one logical record
    Send,           // the sender gives up send control
    Confirm,        // confirmation request
    ConfirmSend,    // confirmation request, then send control passes
    ConfirmDealloc, // confirmation request, then the conversation ends
    DeallocNormal,
    Abend,
    Error           // the sender of this item reported an error (Send_Error)
};

struct Item {
    Kind kind;
    Bytes data;
    std::size_t offset = 0; // how much of a record the local program has already received
};

enum class Reply { None, Confirmed, Error };

struct Step {
    CpicStepKind kind;
    Bytes data;
    CM_INT32 value;
};
using Script = std::vector<Step>;

struct Conversation {
    Cid id{};
    CM_INT32 state = CM_INITIALIZE_STATE;
    CM_INT32 conversationType = CM_MAPPED_CONVERSATION;
    CM_INT32 syncLevel = CM_NONE;
    CM_INT32 deallocateType = CM_DEALLOCATE_SYNC_LEVEL;
    CM_INT32 sendType = CM_BUFFER_DATA;
    CM_INT32 receiveType = CM_RECEIVE_AND_WAIT;
    CM_INT32 processingMode = CM_BLOCKING;
    std::string partnerTp;
    std::string localTp; // incoming conversations: the name given with cmsltp

    std::vector<Bytes> sendBuffer;   // local records not flushed yet
    std::deque<Item> toLocal;        // partner -> local program
    std::deque<Item> toPartner;      // local program -> partner
    bool partnerHasTurn = false;
    bool rtsForLocal = false;        // the partner asked for send control
    bool rtsForPartner = false;      // the local program asked for send control
    Reply replyToLocal = Reply::None;   // answer to the local program's confirmation request
    Reply replyToPartner = Reply::None; // answer to the partner's confirmation request

    bool ended = false; // forgotten by the stack: every wait on it gives up
    CM_RETURN_CODE endCode = CM_PRODUCT_SPECIFIC_ERROR; // what a call woken by the end returns
    std::condition_variable cv;
    std::thread partner;
};
using ConvPtr = std::shared_ptr<Conversation>;

struct IncomingAllocation {
    std::string localTp;
    std::string partnerTp;
};

struct Stack {
    std::mutex mu;
    std::map<Cid, ConvPtr> conversations;
    std::map<std::string, std::string> sideInfo;
    std::map<std::string, Script> partners;
    std::deque<IncomingAllocation> incoming;
    std::map<std::string, std::deque<CM_INT32>> forced;
    std::vector<CpicCallRecord> log;
    std::string localTp;
    int acceptTimeoutMs = 5000;
    CM_INT32 reportedReceiveLength = -1; // >= 0: the next cmrcv with data claims this length
    std::uint64_t nextId = 1;
    std::uint64_t generation = 0; // bumped by every reset
};

// Never destroyed: calls still running at process exit must find it intact.
Stack &stack();

// Names are compared without trailing blanks and NULs.
std::string trimName(const unsigned char *bytes, std::size_t length);
std::string trimName(const char *text, std::size_t maxLength);

// Forgets c: later calls on it get a parameter check, waiters wake with code. The partner thread
// is moved to joins; join it only after the mutex is released.
void endConversation(Stack &s, const ConvPtr &c, CM_RETURN_CODE code, std::vector<std::thread> &joins);

// Starts the partner program's thread. Call with the mutex held.
void startPartner(const ConvPtr &c, Script script, bool echo);

} // namespace cpic

#endif
