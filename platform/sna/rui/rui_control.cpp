// Control interface of the stand-in LUA RUI stack.
#include <algorithm>
#include <cstring>

#include "rui_stack.h"

using namespace rui;

namespace {

Unit toUnit(const RuiHostUnit &h) {
    Unit u;
    if (h.data != nullptr) u.data.assign(h.data, h.data + h.length);
    u.messageType = h.message_type;
    u.th = h.th;
    u.rh = h.rh;
    unsigned char flags;
    std::memcpy(&flags, &h.flags, 1);
    u.flow = flags & kFlowMask;
    return u;
}

} // namespace

extern "C" {

SNA_API void ruiCtl_Reset(void) {
    Stack &s = stack();
    std::vector<std::uint32_t> handles;
    std::thread worker;
    {
        std::lock_guard<std::mutex> lk(s.mu);
        handles = cancelAll(s);
        setDefaults(s);
        worker = stopWorker(s);
    }
    s.cv.notify_all();
    signalAll(handles);
    if (worker.joinable()) worker.join();
}

SNA_API void ruiCtl_AddLu(const char *lu_name) {
    if (lu_name == nullptr) return;
    std::string name = trimName(reinterpret_cast<const unsigned char *>(lu_name),
                                std::min<std::size_t>(std::strlen(lu_name), 8));
    if (name.empty()) return;
    Stack &s = stack();
    std::lock_guard<std::mutex> lk(s.mu);
    if (std::find(s.lus.begin(), s.lus.end(), name) == s.lus.end()) s.lus.push_back(name);
}

SNA_API void ruiCtl_SetCompletion(RuiCompletion mode, int delay_ms) {
    Stack &s = stack();
    std::lock_guard<std::mutex> lk(s.mu);
    s.mode = mode == RUI_COMPLETE_ASYNC ? RUI_COMPLETE_ASYNC : RUI_COMPLETE_INLINE;
    s.delayMs = std::max(delay_ms, 0);
}

SNA_API void ruiCtl_QueueHostData(uint32_t session_id, const RuiHostUnit *unit) {
    if (unit == nullptr) return;
    Stack &s = stack();
    std::lock_guard<std::mutex> lk(s.mu);
    auto it = s.sessions.find(session_id);
    if (it == s.sessions.end()) return;
    // Waiting at once, so a read issued after this call finds it; waiters get it on the worker.
    Session &ss = it->second;
    ss.inbound.push_back(toUnit(*unit));
    if (ss.bid || !ss.reads.empty()) {
        Job job;
        job.kind = JobKind::Dispatch;
        job.sid = ss.id;
        schedule(s, Clock::now(), std::move(job));
    }
}

SNA_API void ruiCtl_ScriptHostAnswers(const RuiHostUnit *units, int count) {
    Stack &s = stack();
    std::lock_guard<std::mutex> lk(s.mu);
    s.script.clear();
    for (int i = 0; units != nullptr && i < count; ++i) {
        Answer a;
        a.silent = units[i].length == 0 && units[i].message_type == 0;
        if (!a.silent) a.unit = toUnit(units[i]);
        s.script.push_back(std::move(a));
    }
}

SNA_API void ruiCtl_ForceReturnCode(uint16_t opcode, uint16_t prim_rc, uint32_t sec_rc) {
    Stack &s = stack();
    std::lock_guard<std::mutex> lk(s.mu);
    s.forced[opcode].push_back(Forced{prim_rc, sec_rc});
}

SNA_API void ruiCtl_ReportReadLength(uint16_t reported_length) {
    Stack &s = stack();
    std::lock_guard<std::mutex> lk(s.mu);
    s.reportLength = reported_length;
}

SNA_API int ruiCtl_VerbCount(void) {
    Stack &s = stack();
    std::lock_guard<std::mutex> lk(s.mu);
    return static_cast<int>(s.log.size());
}

SNA_API int ruiCtl_GetVerb(int index, RuiVerbLog *entry) {
    Stack &s = stack();
    std::lock_guard<std::mutex> lk(s.mu);
    if (entry == nullptr || index < 0 || static_cast<std::size_t>(index) >= s.log.size()) return 0;
    *entry = s.log[static_cast<std::size_t>(index)];
    return 1;
}

SNA_API int ruiCtl_SessionCount(void) {
    Stack &s = stack();
    std::lock_guard<std::mutex> lk(s.mu);
    return static_cast<int>(s.sessions.size());
}

SNA_API int ruiCtl_OutstandingCount(void) {
    Stack &s = stack();
    std::lock_guard<std::mutex> lk(s.mu);
    std::size_t n = 0;
    for (const auto &entry : s.sessions) n += entry.second.reads.size() + (entry.second.bid ? 1 : 0);
    for (const auto &entry : s.jobs)
        n += (entry.second.kind == JobKind::Verb ? 1 : 0) + entry.second.failed.size();
    return static_cast<int>(n);
}

} // extern "C"
