// Shared state of the stand-in CPI-C stack and its control interface.
#include <algorithm>
#include <cstring>

#include "cpic_stack.h"

namespace cpic {

Stack &stack() {
    static Stack *const s = [] {
        auto *p = new Stack;
        p->sideInfo[CPIC_ECHO_DESTINATION] = CPIC_ECHO_TP;
        return p;
    }();
    return *s;
}

std::string trimName(const unsigned char *bytes, std::size_t length) {
    std::size_t n = 0;
    while (n < length && bytes[n] != 0) ++n;
    while (n > 0 && bytes[n - 1] == ' ') --n;
    return std::string(reinterpret_cast<const char *>(bytes), n);
}

std::string trimName(const char *text, std::size_t maxLength) {
    if (text == nullptr) return {};
    return trimName(reinterpret_cast<const unsigned char *>(text), maxLength);
}

void endConversation(Stack &s, const ConvPtr &c, CM_RETURN_CODE code, std::vector<std::thread> &joins) {
    auto it = s.conversations.find(c->id);
    if (it != s.conversations.end() && it->second == c) s.conversations.erase(it);
    if (!c->ended) {
        c->ended = true;
        c->endCode = code;
        c->state = CM_RESET_STATE;
    }
    c->cv.notify_all();
    if (c->partner.joinable()) joins.push_back(std::move(c->partner));
}

namespace {

// Ends every conversation; the threads are joined by the caller once the mutex is free.
void endAll(Stack &s, std::vector<std::thread> &joins) {
    ++s.generation;
    auto all = std::move(s.conversations);
    s.conversations.clear();
    for (auto &entry : all) endConversation(s, entry.second, CM_PRODUCT_SPECIFIC_ERROR, joins);
}

void joinAll(std::vector<std::thread> &joins) {
    for (std::thread &t : joins) t.join();
}

// At process exit no partner thread may still run on library code that is being unloaded.
// Windows has already ended the other threads by then (perhaps holding the mutex), so there is
// nothing left to stop and locking could hang.
struct ExitGuard {
    ~ExitGuard() {
#ifndef _WIN32
        std::vector<std::thread> joins;
        {
            std::lock_guard<std::mutex> lk(stack().mu);
            endAll(stack(), joins);
        }
        joinAll(joins);
#endif
    }
} exitGuard;

} // namespace
} // namespace cpic

using namespace cpic;

void cpicCtl_Reset(void) {
    Stack &s = stack();
    std::vector<std::thread> joins;
    {
        std::lock_guard<std::mutex> lk(s.mu);
        endAll(s, joins);
        s.sideInfo.clear();
        s.sideInfo[CPIC_ECHO_DESTINATION] = CPIC_ECHO_TP;
        s.partners.clear();
        s.incoming.clear();
        s.forced.clear();
        s.log.clear();
        s.localTp.clear();
        s.acceptTimeoutMs = 5000;
        s.reportedReceiveLength = -1;
    }
    joinAll(joins);
}

void cpicCtl_DefineSideInfo(const char *symbolic_destination, const char *partner_tp) {
    if (symbolic_destination == nullptr || partner_tp == nullptr) return;
    Stack &s = stack();
    std::lock_guard<std::mutex> lk(s.mu);
    s.sideInfo[trimName(symbolic_destination, CM_SDN_SIZE)] = trimName(partner_tp, CM_TPN_MAX);
}

void cpicCtl_DefinePartner(const char *tp_name, const CpicPartnerStep *steps, int count) {
    if (tp_name == nullptr || (steps == nullptr && count > 0)) return;
    Script script;
    for (int i = 0; i < count; ++i) {
        Step st{steps[i].kind, {}, steps[i].value};
        if (st.kind == CPIC_STEP_SEND && steps[i].data != nullptr && st.value > 0) {
            st.data.assign(steps[i].data, steps[i].data + st.value);
        }
        script.push_back(std::move(st));
    }
    Stack &s = stack();
    std::lock_guard<std::mutex> lk(s.mu);
    s.partners[trimName(tp_name, CM_TPN_MAX)] = std::move(script);
}

void cpicCtl_QueueIncoming(const char *local_tp, const char *partner_tp) {
    if (local_tp == nullptr || partner_tp == nullptr) return;
    Stack &s = stack();
    std::lock_guard<std::mutex> lk(s.mu);
    s.incoming.push_back({trimName(local_tp, CM_TPN_MAX), trimName(partner_tp, CM_TPN_MAX)});
    for (auto &entry : s.conversations) {
        if (entry.second->state == CM_INITIALIZE_INCOMING_STATE) entry.second->cv.notify_all();
    }
}

void cpicCtl_ForceReturnCode(const char *call, CM_INT32 return_code) {
    if (call == nullptr) return;
    Stack &s = stack();
    std::lock_guard<std::mutex> lk(s.mu);
    s.forced[call].push_back(return_code);
}

void cpicCtl_SetAcceptTimeout(int milliseconds) {
    Stack &s = stack();
    std::lock_guard<std::mutex> lk(s.mu);
    s.acceptTimeoutMs = std::max(0, milliseconds);
}

void cpicCtl_ReportReceiveLength(CM_INT32 reported_length) {
    Stack &s = stack();
    std::lock_guard<std::mutex> lk(s.mu);
    s.reportedReceiveLength = reported_length;
}

int cpicCtl_CallCount(void) {
    Stack &s = stack();
    std::lock_guard<std::mutex> lk(s.mu);
    return static_cast<int>(s.log.size());
}

int cpicCtl_GetCall(int index, CpicCallRecord *record) {
    Stack &s = stack();
    std::lock_guard<std::mutex> lk(s.mu);
    if (record == nullptr || index < 0 || static_cast<std::size_t>(index) >= s.log.size()) return 0;
    *record = s.log[static_cast<std::size_t>(index)];
    return 1;
}

CM_INT32 cpicCtl_ConversationState(const unsigned char *conversation_ID) {
    if (conversation_ID == nullptr) return CM_RESET_STATE;
    Cid id;
    std::memcpy(id.data(), conversation_ID, id.size());
    Stack &s = stack();
    std::lock_guard<std::mutex> lk(s.mu);
    auto it = s.conversations.find(id);
    return it == s.conversations.end() ? CM_RESET_STATE : it->second->state;
}

int cpicCtl_ConversationCount(void) {
    Stack &s = stack();
    std::lock_guard<std::mutex> lk(s.mu);
    return static_cast<int>(s.conversations.size());
}
