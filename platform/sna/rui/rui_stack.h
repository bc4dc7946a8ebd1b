// Internal state of the stand-in LUA RUI stack.
// One mutex guards all of it and is never held while a caller blocks: a verb that has to wait
// is parked as a waiter on its session and RUI returns with the async flag set. Everything that
// finishes a record after RUI has returned (asynchronous verbs, host answers, deliveries to
// waiters, ended sessions) is a timed job run by the stack's one worker thread.
#ifndef SNA_RUI_STACK_H
#define SNA_RUI_STACK_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "lua.h"
#include "rui_control.h"

namespace rui {

using Bytes = std::vector<unsigned char>;
using Clock = std::chrono::steady_clock;

constexpr unsigned char kFlowMask = 0x0F; // lu_norm, lu_exp, sscp_norm, sscp_exp (both flag bytes)
constexpr unsigned char kNowait = 0x10;   // lua_flag1
constexpr unsigned char kAsync = 0x40;    // lua_flag2
constexpr unsigned char kBidEnable = 0x80; // lua_flag2
constexpr std::size_t kLogLimit = 16384;  // verbs logged after a reset; later ones are not

// A request unit from the host, waiting for the session's readers.
struct Unit {
    Bytes data;
    unsigned char messageType = LUA_MESSAGE_TYPE_LU_DATA;
    LUA_TH th{};
    LUA_RH rh{};
    unsigned char flow = 0x01; // flow bits as returned in lua_flag2
};

// A scripted host answer; silent means the host does not answer that write.
struct Answer {
    Unit unit;
    bool silent = false;
};

struct Waiter {
    LUA_VERB_RECORD *rec;
    unsigned char flowMask; // 0: any flow
};

struct Session {
    std::uint32_t id = 0;
    std::string lu;
    std::uint16_t snf = 0; // last sequence number given to a write
    std::deque<Unit> inbound;
    std::deque<Waiter> reads;
    std::optional<Waiter> bid;
};

struct Forced {
    std::uint16_t prim;
    std::uint32_t sec;
};

enum class JobKind {
    Verb,     // an asynchronous-mode verb, processed when due
    Deliver,  // a unit from the host arrives on a session
    Dispatch, // hand waiting units to the session's waiters
    Fail      // finish the waiters of an ended session
};

struct Job {
    JobKind kind = JobKind::Verb;
    LUA_VERB_RECORD *rec = nullptr;           // Verb
    std::optional<Forced> forced;             // Verb
    std::uint32_t sid = 0;                    // Deliver, Dispatch
    Unit unit;                                // Deliver
    std::vector<LUA_VERB_RECORD *> failed;    // Fail
};

struct Stack {
    std::mutex mu;
    std::condition_variable cv; // wakes the worker
    std::map<std::pair<Clock::time_point, std::uint64_t>, Job> jobs; // due time, then order
    std::uint64_t jobSeq = 0;
    std::map<std::uint32_t, Session> sessions;
    std::vector<std::string> lus;
    std::uint32_t nextSid = 1;
    RuiCompletion mode = RUI_COMPLETE_INLINE;
    int delayMs = 0;
    std::deque<Answer> script;
    std::map<std::uint16_t, std::deque<Forced>> forced;
    std::optional<std::uint16_t> reportLength;
    std::vector<RuiVerbLog> log;
    std::thread worker;
    std::uint64_t generation = 0; // bumped by every reset: the running worker stops
    bool closed = false;          // process exit: no new worker
};

// Never destroyed: calls still running at process exit must find it intact.
Stack &stack();

// Names compare without trailing blanks and NULs.
std::string trimName(const unsigned char *bytes, std::size_t length);

// Restores the state after a reset. Call with the mutex held.
void setDefaults(Stack &s);

// Queues a job; starts the worker if none runs. Call with the mutex held.
void schedule(Stack &s, Clock::time_point due, Job job);

// Ends every session and fails every outstanding verb with LUA_CANCELLED; returns the
// events to signal once the mutex is free. Call with the mutex held.
std::vector<std::uint32_t> cancelAll(Stack &s);

// Signals completion events. Call without the mutex; the records are not touched any more.
void signalAll(const std::vector<std::uint32_t> &handles);

// Takes the worker out so the caller can join it after releasing the mutex.
std::thread stopWorker(Stack &s);

} // namespace rui

#endif
