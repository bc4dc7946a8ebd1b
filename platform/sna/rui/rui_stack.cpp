// The stand-in LUA RUI stack: the verb entry point, the session state machine, the simulated
// host application and the worker thread that finishes records after RUI has returned.
#include "rui_stack.h"

#include <algorithm>
#include <cstring>

#include "win32api.h"

namespace rui {

namespace {

unsigned char flag1Byte(const LUA_COMMON &c) {
    unsigned char b;
    std::memcpy(&b, &c.lua_flag1, 1);
    return b;
}

unsigned char flag2Byte(const LUA_COMMON &c) {
    unsigned char b;
    std::memcpy(&b, &c.lua_flag2, 1);
    return b;
}

void setFlag2(LUA_COMMON &c, unsigned char b) { std::memcpy(&c.lua_flag2, &b, 1); }

// Results keep the async flag as RUI left it: it tells the caller how the verb completed.
void setResultFlags(LUA_COMMON &c, unsigned char flags) {
    setFlag2(c, static_cast<unsigned char>((flag2Byte(c) & kAsync) | flags));
}

void setRc(LUA_COMMON &c, std::uint16_t prim, std::uint32_t sec) {
    c.lua_prim_rc = prim;
    c.lua_sec_rc = sec;
}

bool matches(const Unit &u, unsigned char mask) {
    return mask == 0 || u.flow == 0 || (u.flow & mask) != 0;
}

std::deque<Unit>::iterator firstMatch(Session &ss, unsigned char mask) {
    return std::find_if(ss.inbound.begin(), ss.inbound.end(),
                        [mask](const Unit &u) { return matches(u, mask); });
}

Session *findSession(Stack &s, std::uint32_t sid) {
    auto it = s.sessions.find(sid);
    return it == s.sessions.end() ? nullptr : &it->second;
}

void finishRead(Stack &s, LUA_COMMON &c, const Unit &u) {
    std::size_t copied = std::min<std::size_t>(u.data.size(), c.lua_max_length);
    if (copied > 0) std::memcpy(c.lua_data_ptr, u.data.data(), copied);
    c.lua_data_length = static_cast<std::uint16_t>(copied);
    if (s.reportLength) {
        c.lua_data_length = *s.reportLength;
        s.reportLength.reset();
    }
    c.lua_th = u.th;
    c.lua_rh = u.rh;
    c.lua_message_type = u.messageType;
    setResultFlags(c, u.flow);
    setRc(c, LUA_OK, copied < u.data.size() ? LUA_DATA_TRUNCATED : LUA_SEC_OK);
}

void finishBid(LUA_VERB_RECORD *rec, const Unit &u) {
    LUA_COMMON &c = rec->common;
    std::memset(rec->specific.lua_peek_data, 0, sizeof rec->specific.lua_peek_data);
    std::memcpy(rec->specific.lua_peek_data, u.data.data(),
                std::min(u.data.size(), sizeof rec->specific.lua_peek_data));
    c.lua_data_length = static_cast<std::uint16_t>(u.data.size());
    c.lua_th = u.th;
    c.lua_rh = u.rh;
    c.lua_message_type = u.messageType;
    setResultFlags(c, static_cast<unsigned char>(u.flow | kBidEnable));
    setRc(c, LUA_OK, LUA_SEC_OK);
}

// Hands waiting units to the waiters: the bid peeks first, then reads take units in order.
void dispatch(Stack &s, Session &ss, std::vector<std::uint32_t> &signals) {
    if (ss.bid) {
        auto it = firstMatch(ss, ss.bid->flowMask);
        if (it != ss.inbound.end()) {
            finishBid(ss.bid->rec, *it);
            signals.push_back(ss.bid->rec->common.lua_post_handle);
            ss.bid.reset();
        }
    }
    for (auto w = ss.reads.begin(); w != ss.reads.end();) {
        auto it = firstMatch(ss, w->flowMask);
        if (it == ss.inbound.end()) {
            ++w;
            continue;
        }
        finishRead(s, w->rec->common, *it);
        ss.inbound.erase(it);
        signals.push_back(w->rec->common.lua_post_handle);
        w = ss.reads.erase(w);
    }
}

void scheduleDispatchIfNeeded(Stack &s, Session &ss) {
    if (!ss.inbound.empty() && (ss.bid || !ss.reads.empty())) {
        Job job;
        job.kind = JobKind::Dispatch;
        job.sid = ss.id;
        schedule(s, Clock::now(), std::move(job));
    }
}

Clock::time_point asyncDue(const Stack &s) {
    return Clock::now() + std::chrono::milliseconds(s.mode == RUI_COMPLETE_ASYNC ? s.delayMs : 0);
}

void putSnf(LUA_TH &th, std::uint16_t snf) {
    th.snf[0] = static_cast<unsigned char>(snf >> 8);
    th.snf[1] = static_cast<unsigned char>(snf & 0xFF);
}

// The host application's default answer: the data it got back with a prefix, as one
// only-in-chain LU-normal request that asks for no response, carrying the write's snf.
Unit defaultAnswer(const LUA_TH &writeTh, const Bytes &received) {
    static const char prefix[] = "HOST REPLY TO ";
    Unit u;
    u.data.assign(prefix, prefix + sizeof prefix - 1);
    u.data.insert(u.data.end(), received.begin(), received.end());
    if (u.data.size() > 256) u.data.resize(256);
    u.th.flags_fid = 2;
    u.th.flags_mpf = 3;
    u.th.daf = writeTh.oaf;
    u.th.oaf = writeTh.daf;
    u.th.snf[0] = writeTh.snf[0];
    u.th.snf[1] = writeTh.snf[1];
    u.rh.bci = 1;
    u.rh.eci = 1;
    u.messageType = LUA_MESSAGE_TYPE_LU_DATA;
    u.flow = 0x01;
    return u;
}

unsigned char writeFlow(unsigned char flag1) {
    unsigned char flow = flag1 & kFlowMask;
    if (flow == 0) return 0x01; // lu_norm unless the caller says otherwise
    return static_cast<unsigned char>(flow & -flow); // the first flow named
}

bool doInit(Stack &s, LUA_COMMON &c) {
    std::string name = trimName(c.lua_luname, sizeof c.lua_luname);
    if (std::find(s.lus.begin(), s.lus.end(), name) == s.lus.end()) {
        setRc(c, LUA_PARAMETER_CHECK, LUA_INVALID_LUNAME);
        return true;
    }
    for (const auto &entry : s.sessions) {
        if (entry.second.lu == name) {
            setRc(c, LUA_STATE_CHECK, LUA_LU_IN_USE);
            return true;
        }
    }
    std::uint32_t sid = s.nextSid++;
    if (s.nextSid == 0) s.nextSid = 1;
    Session &ss = s.sessions[sid];
    ss.id = sid;
    ss.lu = name;
    c.lua_sid = sid;
    setRc(c, LUA_OK, LUA_SEC_OK);
    return true;
}

bool doTerm(Stack &s, LUA_COMMON &c) {
    auto it = s.sessions.find(c.lua_sid);
    if (it == s.sessions.end()) {
        setRc(c, LUA_PARAMETER_CHECK, LUA_BAD_SESSION_ID);
        return true;
    }
    Job job;
    job.kind = JobKind::Fail;
    if (it->second.bid) job.failed.push_back(it->second.bid->rec);
    for (const Waiter &w : it->second.reads) job.failed.push_back(w.rec);
    s.sessions.erase(it);
    if (!job.failed.empty()) schedule(s, Clock::now(), std::move(job));
    setRc(c, LUA_OK, LUA_SEC_OK);
    return true;
}

bool doWrite(Stack &s, LUA_COMMON &c) {
    Session *ss = findSession(s, c.lua_sid);
    if (ss == nullptr) {
        setRc(c, LUA_PARAMETER_CHECK, LUA_BAD_SESSION_ID);
        return true;
    }
    if (c.lua_data_ptr == nullptr && c.lua_data_length > 0) {
        setRc(c, LUA_PARAMETER_CHECK, LUA_BAD_DATA_PTR);
        return true;
    }
    Bytes data(c.lua_data_ptr, c.lua_data_ptr + c.lua_data_length);
    unsigned char flow = writeFlow(flag1Byte(c));
    ++ss->snf;
    c.lua_th.flags_fid = 2;
    c.lua_th.flags_mpf = 3;
    c.lua_th.flags_efi = (flow & 0x0A) != 0 ? 1 : 0; // expedited flows
    putSnf(c.lua_th, ss->snf);
    setResultFlags(c, flow);
    setRc(c, LUA_OK, LUA_SEC_OK);

    Job job;
    job.kind = JobKind::Deliver;
    job.sid = ss->id;
    if (!s.script.empty()) {
        Answer a = std::move(s.script.front());
        s.script.pop_front();
        if (a.silent) return true;
        job.unit = std::move(a.unit);
    } else {
        job.unit = defaultAnswer(c.lua_th, data);
    }
    schedule(s, asyncDue(s), std::move(job));
    return true;
}

bool doRead(Stack &s, LUA_VERB_RECORD *rec) {
    LUA_COMMON &c = rec->common;
    Session *ss = findSession(s, c.lua_sid);
    if (ss == nullptr) {
        setRc(c, LUA_PARAMETER_CHECK, LUA_BAD_SESSION_ID);
        return true;
    }
    if (c.lua_data_ptr == nullptr && c.lua_max_length > 0) {
        setRc(c, LUA_PARAMETER_CHECK, LUA_BAD_DATA_PTR);
        return true;
    }
    unsigned char mask = flag1Byte(c) & kFlowMask;
    if (ss->reads.empty()) { // earlier reads get the data first
        auto it = firstMatch(*ss, mask);
        if (it != ss->inbound.end()) {
            finishRead(s, c, *it);
            ss->inbound.erase(it);
            return true;
        }
    }
    if (flag1Byte(c) & kNowait) {
        setRc(c, LUA_UNSUCCESSFUL, LUA_NO_DATA);
        return true;
    }
    ss->reads.push_back(Waiter{rec, mask});
    scheduleDispatchIfNeeded(s, *ss);
    return false;
}

bool doBid(Stack &s, LUA_VERB_RECORD *rec) {
    LUA_COMMON &c = rec->common;
    Session *ss = findSession(s, c.lua_sid);
    if (ss == nullptr) {
        setRc(c, LUA_PARAMETER_CHECK, LUA_BAD_SESSION_ID);
        return true;
    }
    if (ss->bid) {
        setRc(c, LUA_STATE_CHECK, LUA_BID_ALREADY_ENABLED);
        return true;
    }
    unsigned char mask = flag1Byte(c) & kFlowMask;
    auto it = firstMatch(*ss, mask);
    if (it != ss->inbound.end()) {
        finishBid(rec, *it);
        return true;
    }
    if (flag1Byte(c) & kNowait) {
        setRc(c, LUA_UNSUCCESSFUL, LUA_NO_DATA);
        return true;
    }
    ss->bid = Waiter{rec, mask};
    return false;
}

// Runs one verb. Returns true when the record is finished, false when it waits for data.
bool process(Stack &s, LUA_VERB_RECORD *rec, const std::optional<Forced> &forced) {
    LUA_COMMON &c = rec->common;
    if (forced) {
        setRc(c, forced->prim, forced->sec);
        return true;
    }
    if (c.lua_verb != LUA_VERB_RUI) {
        setRc(c, LUA_INVALID_VERB, LUA_SEC_OK);
        return true;
    }
    std::uint16_t need = c.lua_opcode == LUA_OPCODE_RUI_BID ? LUA_BID_LENGTH : LUA_COMMON_LENGTH;
    if (c.lua_verb_length < need) {
        setRc(c, LUA_PARAMETER_CHECK, LUA_VERB_LENGTH_INVALID);
        return true;
    }
    switch (c.lua_opcode) {
    case LUA_OPCODE_RUI_INIT: return doInit(s, c);
    case LUA_OPCODE_RUI_TERM: return doTerm(s, c);
    case LUA_OPCODE_RUI_READ: return doRead(s, rec);
    case LUA_OPCODE_RUI_WRITE: return doWrite(s, c);
    case LUA_OPCODE_RUI_BID: return doBid(s, rec);
    default:
        setRc(c, LUA_PARAMETER_CHECK, LUA_INVALID_OPCODE);
        return true;
    }
}

void runJob(Stack &s, Job &job, std::vector<std::uint32_t> &signals) {
    switch (job.kind) {
    case JobKind::Verb:
        if (process(s, job.rec, job.forced)) signals.push_back(job.rec->common.lua_post_handle);
        break;
    case JobKind::Deliver:
        if (Session *ss = findSession(s, job.sid)) {
            ss->inbound.push_back(std::move(job.unit));
            dispatch(s, *ss, signals);
        }
        break;
    case JobKind::Dispatch:
        if (Session *ss = findSession(s, job.sid)) dispatch(s, *ss, signals);
        break;
    case JobKind::Fail:
        for (LUA_VERB_RECORD *rec : job.failed) {
            setRc(rec->common, LUA_SESSION_FAILURE, LUA_SESSION_ENDED);
            signals.push_back(rec->common.lua_post_handle);
        }
        break;
    }
}

void workerMain(Stack *s, std::uint64_t generation) {
    std::unique_lock<std::mutex> lk(s->mu);
    while (s->generation == generation) {
        if (s->jobs.empty()) {
            s->cv.wait(lk);
            continue;
        }
        auto first = s->jobs.begin();
        if (first->first.first > Clock::now()) {
            s->cv.wait_until(lk, first->first.first);
            continue;
        }
        Job job = std::move(first->second);
        s->jobs.erase(first);
        std::vector<std::uint32_t> signals;
        runJob(*s, job, signals);
        if (!signals.empty()) {
            lk.unlock();
            signalAll(signals);
            lk.lock();
        }
    }
}

void appendLog(Stack &s, const LUA_VERB_RECORD *rec, RuiVerbLog *&entry) {
    entry = nullptr;
    if (s.log.size() >= kLogLimit) return;
    RuiVerbLog &e = s.log.emplace_back();
    const LUA_COMMON &c = rec->common;
    std::memcpy(&e.record.common, &c, sizeof c);
    // The peek area exists only in bid records; other records may end with the common part.
    if (c.lua_opcode == LUA_OPCODE_RUI_BID && c.lua_verb_length >= LUA_BID_LENGTH)
        std::memcpy(&e.record.specific, &rec->specific, sizeof rec->specific);
    e.had_data_ptr = c.lua_data_ptr != nullptr;
    if (c.lua_opcode == LUA_OPCODE_RUI_WRITE && c.lua_data_ptr != nullptr) {
        std::size_t n = std::min<std::size_t>(c.lua_data_length, RUI_LOG_BYTES);
        std::memcpy(e.data, c.lua_data_ptr, n);
        e.data_count = static_cast<int>(n);
    }
    entry = &e;
}

// The verb will finish through its event.
void markAsync(LUA_COMMON &c, RuiVerbLog *entry) {
    setFlag2(c, static_cast<unsigned char>(flag2Byte(c) | kAsync));
    setRc(c, LUA_IN_PROGRESS, LUA_SEC_OK);
    if (entry != nullptr) entry->completed_async = 1;
}

// Stops the worker at process exit. Events are not signalled here: the Win32 layer may
// already be gone, and nobody waits any more.
struct ExitGuard {
    ~ExitGuard() {
        Stack &s = stack();
        std::thread t;
        {
            std::lock_guard<std::mutex> lk(s.mu);
            s.closed = true;
            t = stopWorker(s);
        }
        s.cv.notify_all();
        if (!t.joinable()) return;
#ifdef _WIN32
        // The system has ended every other thread before libraries unload at exit.
        t.detach();
#else
        t.join();
#endif
    }
};
ExitGuard exitGuard;

} // namespace

Stack &stack() {
    static Stack *const s = [] {
        auto *fresh = new Stack;
        setDefaults(*fresh);
        return fresh;
    }();
    return *s;
}

std::string trimName(const unsigned char *bytes, std::size_t length) {
    std::string name(reinterpret_cast<const char *>(bytes), length);
    std::size_t nul = name.find('\0');
    if (nul != std::string::npos) name.resize(nul);
    while (!name.empty() && name.back() == ' ') name.pop_back();
    return name;
}

void setDefaults(Stack &s) {
    s.lus = {RUI_DEMO_LU, RUI_SECOND_LU};
    s.mode = RUI_COMPLETE_INLINE;
    s.delayMs = 0;
    s.script.clear();
    s.forced.clear();
    s.reportLength.reset();
    s.log.clear();
}

void schedule(Stack &s, Clock::time_point due, Job job) {
    s.jobs.emplace(std::make_pair(due, s.jobSeq++), std::move(job));
    if (!s.worker.joinable() && !s.closed) {
        std::uint64_t generation = s.generation;
        s.worker = std::thread([&s, generation] { workerMain(&s, generation); });
    }
    s.cv.notify_all();
}

std::vector<std::uint32_t> cancelAll(Stack &s) {
    std::vector<LUA_VERB_RECORD *> recs;
    for (auto &entry : s.sessions) {
        if (entry.second.bid) recs.push_back(entry.second.bid->rec);
        for (const Waiter &w : entry.second.reads) recs.push_back(w.rec);
    }
    for (auto &entry : s.jobs) {
        if (entry.second.kind == JobKind::Verb) recs.push_back(entry.second.rec);
        for (LUA_VERB_RECORD *rec : entry.second.failed) recs.push_back(rec);
    }
    s.sessions.clear();
    s.jobs.clear();
    std::vector<std::uint32_t> handles;
    for (LUA_VERB_RECORD *rec : recs) {
        setRc(rec->common, LUA_CANCELLED, LUA_SEC_OK);
        handles.push_back(rec->common.lua_post_handle);
    }
    return handles;
}

void signalAll(const std::vector<std::uint32_t> &handles) {
    for (std::uint32_t h : handles)
        if (h != 0) SetEvent(reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(h)));
}

std::thread stopWorker(Stack &s) {
    ++s.generation;
    return std::move(s.worker);
}

} // namespace rui

extern "C" SNA_API void RUI_ENTRY RUI(LUA_VERB_RECORD *verb) {
    using namespace rui;
    if (verb == nullptr) return;
    Stack &s = stack();
    std::lock_guard<std::mutex> lk(s.mu);
    RuiVerbLog *entry;
    appendLog(s, verb, entry);
    LUA_COMMON &c = verb->common;
    setFlag2(c, static_cast<unsigned char>(flag2Byte(c) & ~kAsync));
    std::optional<Forced> forced;
    auto f = s.forced.find(c.lua_opcode);
    if (f != s.forced.end()) {
        forced = f->second.front();
        f->second.pop_front();
        if (f->second.empty()) s.forced.erase(f);
    }
    if (s.mode == RUI_COMPLETE_ASYNC) {
        markAsync(c, entry);
        Job job;
        job.kind = JobKind::Verb;
        job.rec = verb;
        job.forced = forced;
        schedule(s, asyncDue(s), std::move(job));
        return;
    }
    if (!process(s, verb, forced)) markAsync(c, entry);
    // From here on the record may belong to the worker: it is not touched again.
}
