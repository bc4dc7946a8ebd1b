// The CPI-C calls of the stand-in stack: the local program's side of each conversation.
//
// Records: every cmsend is one logical record, in basic conversations as in mapped ones (basic
// data is not parsed into LL-prefixed records), and cmrcv returns it as such: complete, or
// incomplete when requested_length is shorter, the rest coming with the next cmrcv.
//
// Status with data: when the record a cmrcv completes is directly followed by a status
// indicator (send, confirm, confirm-send, confirm-deallocate), that status is reported by the
// same call. The echo partner sends its records and gives send control at once, so the last
// echoed record always arrives with CM_SEND_RECEIVED; with nothing to echo the status comes alone.
// Deallocation and errors are return codes of a call of their own, never with data.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <initializer_list>

#include "cpic_stack.h"

namespace cpic {
namespace {

// One call in progress: holds the mutex from start to end, except while it waits.
struct Ctx {
    explicit Ctx(Stack &stack_) : s(stack_), lk(stack_.mu) {}

    Stack &s;
    std::unique_lock<std::mutex> lk;
    CpicCallRecord rec{};
    std::vector<std::thread> joins;

    ConvPtr find(const unsigned char *cid) const {
        if (cid == nullptr) return nullptr;
        Cid id;
        std::memcpy(id.data(), cid, id.size());
        auto it = s.conversations.find(id);
        return it == s.conversations.end() ? nullptr : it->second;
    }

    void end(const ConvPtr &c, CM_RETURN_CODE code = CM_DEALLOCATED_ABEND) {
        endConversation(s, c, code, joins);
    }
};

void logBytes(CpicCallRecord &rec, const unsigned char *bytes, CM_INT32 count) {
    if (bytes == nullptr || count <= 0) return;
    rec.byte_count = count;
    std::memcpy(rec.bytes, bytes, std::min<std::size_t>(static_cast<std::size_t>(count), CPIC_LOG_BYTES));
}

// Runs one call: outputs cleared first, a forced return code honoured, the call logged.
// Calls that a reset overtook are not logged: the log belongs to the new run.
template <class Body>
void run(const char *name, const unsigned char *cid, CM_RETURN_CODE *return_code,
         std::initializer_list<CM_INT32 *> outs, Body body) {
    for (CM_INT32 *o : outs) {
        if (o != nullptr) *o = 0;
    }
    Ctx x(stack());
    std::strncpy(x.rec.call, name, sizeof x.rec.call - 1);
    if (cid != nullptr) std::memcpy(x.rec.conversation_ID, cid, CM_CID_SIZE);
    const std::uint64_t generation = x.s.generation;
    CM_RETURN_CODE rc = CM_OK;
    try {
        auto forced = x.s.forced.find(name);
        if (forced != x.s.forced.end() && !forced->second.empty()) {
            rc = forced->second.front();
            forced->second.pop_front();
            body(x, true);
        } else {
            rc = body(x, false);
        }
    } catch (...) {
        rc = CM_PRODUCT_SPECIFIC_ERROR;
    }
    x.rec.return_code = rc;
    if (generation == x.s.generation) {
        try {
            x.s.log.push_back(x.rec);
        } catch (...) {
        }
    }
    if (return_code != nullptr) *return_code = rc;
    x.lk.unlock();
    for (std::thread &t : x.joins) t.join();
}

template <class States>
bool in(CM_INT32 state, const States &states) {
    return std::find(std::begin(states), std::end(states), state) != std::end(states);
}

bool in(CM_INT32 state, std::initializer_list<CM_INT32> states) { return in<std::initializer_list<CM_INT32>>(state, states); }

bool isConfirmKind(Kind k) {
    return k == Kind::Confirm || k == Kind::ConfirmSend || k == Kind::ConfirmDealloc;
}

bool holds(const std::deque<Item> &q, Kind k) {
    return std::any_of(q.begin(), q.end(), [k](const Item &it) { return it.kind == k; });
}

void flush(Conversation &c) {
    for (Bytes &r : c.sendBuffer) c.toPartner.push_back(Item{Kind::Data, std::move(r)});
    c.sendBuffer.clear();
    c.cv.notify_all();
}

void tell(Conversation &c, Kind k) {
    flush(c);
    c.toPartner.push_back(Item{k, {}});
    c.cv.notify_all();
}

CM_INT32 consumeRts(Conversation &c) {
    CM_INT32 r = c.rtsForLocal ? CM_REQ_TO_SEND_RECEIVED : CM_REQ_TO_SEND_NOT_RECEIVED;
    c.rtsForLocal = false;
    return r;
}

// What the partner did while the local program held send control: an error (the partner took
// send control) or an abnormal end.
CM_RETURN_CODE sendStateNews(Ctx &x, const ConvPtr &c) {
    if (!c->toLocal.empty() && c->toLocal.front().kind == Kind::Error) {
        c->toLocal.pop_front();
        c->sendBuffer.clear();
        c->state = CM_RECEIVE_STATE;
        return CM_PROGRAM_ERROR_PURGING;
    }
    if (holds(c->toLocal, Kind::Abend)) {
        x.end(c);
        return CM_DEALLOCATED_ABEND;
    }
    return CM_OK;
}

// Flushes, asks for confirmation (of kind k) and waits for the answer.
CM_RETURN_CODE confirm(Ctx &x, const ConvPtr &c, Kind k) {
    c->replyToLocal = Reply::None;
    tell(*c, k);
    c->cv.wait(x.lk, [&] {
        return c->ended || c->replyToLocal != Reply::None || holds(c->toLocal, Kind::Abend);
    });
    if (c->ended) return c->endCode;
    Reply r = c->replyToLocal;
    c->replyToLocal = Reply::None;
    if (r == Reply::Confirmed) return CM_OK;
    if (r == Reply::Error) {
        c->sendBuffer.clear();
        c->state = CM_RECEIVE_STATE;
        return CM_PROGRAM_ERROR_PURGING;
    }
    x.end(c);
    return CM_DEALLOCATED_ABEND;
}

// Prepare-to-receive of the sync-level type: confirm first when the sync level is confirm.
CM_RETURN_CODE prepareToReceive(Ctx &x, const ConvPtr &c) {
    if (c->syncLevel == CM_CONFIRM) {
        CM_RETURN_CODE rc = confirm(x, c, Kind::ConfirmSend);
        if (rc == CM_OK) c->state = CM_RECEIVE_STATE;
        return rc;
    }
    tell(*c, Kind::Send);
    c->state = CM_RECEIVE_STATE;
    return CM_OK;
}

CM_RETURN_CODE deallocateFromSend(Ctx &x, const ConvPtr &c) {
    CM_INT32 type = c->deallocateType;
    if (type == CM_DEALLOCATE_SYNC_LEVEL) type = c->syncLevel == CM_CONFIRM ? CM_DEALLOCATE_CONFIRM : CM_DEALLOCATE_FLUSH;
    if (type == CM_DEALLOCATE_ABEND) {
        c->sendBuffer.clear();
        c->toPartner.push_back(Item{Kind::Abend, {}});
        x.end(c);
        return CM_OK;
    }
    CM_RETURN_CODE rc = sendStateNews(x, c);
    if (rc != CM_OK) return rc;
    if (type == CM_DEALLOCATE_CONFIRM) {
        rc = confirm(x, c, Kind::ConfirmDealloc);
        if (rc == CM_OK) x.end(c);
        return rc;
    }
    tell(*c, Kind::DeallocNormal);
    x.end(c);
    return CM_OK;
}

bool isStatus(Kind k) { return k == Kind::Send || isConfirmKind(k); }

// Reports the status indicator at the front of the partner's input and moves to its state.
CM_INT32 takeStatus(Conversation &c) {
    Kind k = c.toLocal.front().kind;
    c.toLocal.pop_front();
    switch (k) {
    case Kind::Send: c.state = CM_SEND_STATE; return CM_SEND_RECEIVED;
    case Kind::Confirm: c.state = CM_CONFIRM_STATE; return CM_CONFIRM_RECEIVED;
    case Kind::ConfirmSend: c.state = CM_CONFIRM_SEND_STATE; return CM_CONFIRM_SEND_RECEIVED;
    default: c.state = CM_CONFIRM_DEALLOCATE_STATE; return CM_CONFIRM_DEALLOC_RECEIVED;
    }
}

CM_RETURN_CODE receive(Ctx &x, const ConvPtr &c, unsigned char *buffer, CM_INT32 requested, CM_INT32 &dataReceived,
                       CM_INT32 &receivedLength, CM_INT32 &status) {
    if (c->state == CM_SEND_STATE) {
        // Receiving in Send state gives send control away first, with a flush.
        CM_RETURN_CODE rc = sendStateNews(x, c);
        if (rc != CM_OK) return rc;
        tell(*c, Kind::Send);
        c->state = CM_RECEIVE_STATE;
    }
    if (c->receiveType == CM_RECEIVE_IMMEDIATE) {
        if (c->toLocal.empty()) return CM_UNSUCCESSFUL;
    } else {
        c->cv.wait(x.lk, [&] { return c->ended || !c->toLocal.empty(); });
        if (c->ended) return c->endCode;
    }
    Item &front = c->toLocal.front();
    switch (front.kind) {
    case Kind::Data: {
        std::size_t n = std::min(front.data.size() - front.offset, static_cast<std::size_t>(requested));
        if (n > 0) std::memcpy(buffer, front.data.data() + front.offset, n);
        front.offset += n;
        receivedLength = static_cast<CM_INT32>(n);
        if (front.offset < front.data.size()) {
            dataReceived = CM_INCOMPLETE_DATA_RECEIVED;
            return CM_OK;
        }
        dataReceived = CM_COMPLETE_DATA_RECEIVED;
        c->toLocal.pop_front();
        if (!c->toLocal.empty() && isStatus(c->toLocal.front().kind)) status = takeStatus(*c);
        return CM_OK;
    }
    case Kind::Error: c->toLocal.pop_front(); return CM_PROGRAM_ERROR_PURGING;
    case Kind::DeallocNormal: x.end(c, CM_DEALLOCATED_NORMAL); return CM_DEALLOCATED_NORMAL;
    case Kind::Abend: x.end(c); return CM_DEALLOCATED_ABEND;
    default: status = takeStatus(*c); return CM_OK;
    }
}

ConvPtr newConversation(Ctx &x, unsigned char *conversation_ID) {
    auto c = std::make_shared<Conversation>();
    // 'C' then a counter that never restarts, so an old identifier never names a new conversation.
    std::uint64_t n = x.s.nextId++;
    c->id[0] = 'C';
    for (std::size_t i = CM_CID_SIZE - 1; i > 0; --i, n >>= 8) c->id[i] = static_cast<unsigned char>(n & 0xff);
    x.s.conversations.emplace(c->id, c);
    std::memcpy(conversation_ID, c->id.data(), CM_CID_SIZE);
    std::memcpy(x.rec.conversation_ID, c->id.data(), CM_CID_SIZE);
    return c;
}

constexpr std::array<CM_INT32, 5> kConversing = {CM_SEND_STATE, CM_RECEIVE_STATE, CM_CONFIRM_STATE,
                                                 CM_CONFIRM_SEND_STATE, CM_CONFIRM_DEALLOCATE_STATE};

CM_INT32 valueOf(const CM_INT32 *p) { return p != nullptr ? *p : 0; }

// Setters of one characteristic: value range and the states that allow the call.
template <class Apply>
void setter(const char *name, unsigned char *cid, CM_INT32 *value, CM_RETURN_CODE *return_code,
            CM_INT32 maxValue, bool initializeOnly, Apply apply) {
    run(name, cid, return_code, {}, [&](Ctx &x, bool forced) -> CM_RETURN_CODE {
        x.rec.value = valueOf(value);
        if (forced) return CM_OK;
        ConvPtr c = x.find(cid);
        if (!c || value == nullptr) return CM_PROGRAM_PARAMETER_CHECK;
        if (initializeOnly ? c->state != CM_INITIALIZE_STATE : c->state == CM_RESET_STATE) return CM_PROGRAM_STATE_CHECK;
        if (*value < 0 || *value > maxValue) return CM_PROGRAM_PARAMETER_CHECK;
        return apply(*c, *value);
    });
}

} // namespace
} // namespace cpic

using namespace cpic;

void CM_ENTRY cminit(unsigned char *conversation_ID, unsigned char *sym_dest_name, CM_RETURN_CODE *return_code) {
    if (conversation_ID != nullptr) std::memset(conversation_ID, 0, CM_CID_SIZE);
    run("cminit", nullptr, return_code, {}, [&](Ctx &x, bool forced) -> CM_RETURN_CODE {
        logBytes(x.rec, sym_dest_name, CM_SDN_SIZE);
        if (forced) return CM_OK;
        if (conversation_ID == nullptr || sym_dest_name == nullptr) return CM_PROGRAM_PARAMETER_CHECK;
        auto side = x.s.sideInfo.find(trimName(sym_dest_name, CM_SDN_SIZE));
        if (side == x.s.sideInfo.end()) return CM_PROGRAM_PARAMETER_CHECK;
        newConversation(x, conversation_ID)->partnerTp = side->second;
        return CM_OK;
    });
}

void CM_ENTRY cminic(unsigned char *conversation_ID, CM_RETURN_CODE *return_code) {
    if (conversation_ID != nullptr) std::memset(conversation_ID, 0, CM_CID_SIZE);
    run("cminic", nullptr, return_code, {}, [&](Ctx &x, bool forced) -> CM_RETURN_CODE {
        if (forced) return CM_OK;
        if (conversation_ID == nullptr) return CM_PROGRAM_PARAMETER_CHECK;
        if (x.s.localTp.empty()) return CM_PROGRAM_STATE_CHECK;
        ConvPtr c = newConversation(x, conversation_ID);
        c->state = CM_INITIALIZE_INCOMING_STATE;
        c->localTp = x.s.localTp;
        return CM_OK;
    });
}

void CM_ENTRY cmsltp(unsigned char *tp_name, CM_INT32 *tp_name_length, CM_RETURN_CODE *return_code) {
    run("cmsltp", nullptr, return_code, {}, [&](Ctx &x, bool forced) -> CM_RETURN_CODE {
        x.rec.value = valueOf(tp_name_length);
        if (tp_name_length != nullptr && *tp_name_length > 0 && *tp_name_length <= CM_TPN_MAX) {
            logBytes(x.rec, tp_name, *tp_name_length);
        }
        if (forced) return CM_OK;
        if (tp_name == nullptr || tp_name_length == nullptr || *tp_name_length < 1 || *tp_name_length > CM_TPN_MAX) {
            return CM_PROGRAM_PARAMETER_CHECK;
        }
        std::string name = trimName(tp_name, static_cast<std::size_t>(*tp_name_length));
        if (name.empty()) return CM_PROGRAM_PARAMETER_CHECK;
        x.s.localTp = name;
        return CM_OK;
    });
}

void CM_ENTRY cmstpn(unsigned char *conversation_ID, unsigned char *tp_name, CM_INT32 *tp_name_length,
                     CM_RETURN_CODE *return_code) {
    run("cmstpn", conversation_ID, return_code, {}, [&](Ctx &x, bool forced) -> CM_RETURN_CODE {
        x.rec.value = valueOf(tp_name_length);
        if (tp_name_length != nullptr && *tp_name_length > 0 && *tp_name_length <= CM_TPN_MAX) {
            logBytes(x.rec, tp_name, *tp_name_length);
        }
        if (forced) return CM_OK;
        ConvPtr c = x.find(conversation_ID);
        if (!c) return CM_PROGRAM_PARAMETER_CHECK;
        if (c->state != CM_INITIALIZE_STATE) return CM_PROGRAM_STATE_CHECK;
        if (tp_name == nullptr || tp_name_length == nullptr || *tp_name_length < 1 || *tp_name_length > CM_TPN_MAX) {
            return CM_PROGRAM_PARAMETER_CHECK;
        }
        c->partnerTp = trimName(tp_name, static_cast<std::size_t>(*tp_name_length));
        return CM_OK;
    });
}

void CM_ENTRY cmsct(unsigned char *conversation_ID, CM_INT32 *conversation_type, CM_RETURN_CODE *return_code) {
    setter("cmsct", conversation_ID, conversation_type, return_code, CM_MAPPED_CONVERSATION, true,
           [](Conversation &c, CM_INT32 v) {
               c.conversationType = v;
               return CM_OK;
           });
}

// A confirm sync level is what makes confirmation possible; the three settings are kept consistent.
void CM_ENTRY cmssl(unsigned char *conversation_ID, CM_INT32 *sync_level, CM_RETURN_CODE *return_code) {
    setter("cmssl", conversation_ID, sync_level, return_code, CM_CONFIRM, true, [](Conversation &c, CM_INT32 v) {
        if (v == CM_NONE && (c.deallocateType == CM_DEALLOCATE_CONFIRM || c.sendType == CM_SEND_AND_CONFIRM)) {
            return CM_PROGRAM_PARAMETER_CHECK;
        }
        c.syncLevel = v;
        return CM_OK;
    });
}

void CM_ENTRY cmsdt(unsigned char *conversation_ID, CM_INT32 *deallocate_type, CM_RETURN_CODE *return_code) {
    setter("cmsdt", conversation_ID, deallocate_type, return_code, CM_DEALLOCATE_ABEND, false,
           [](Conversation &c, CM_INT32 v) {
               if (v == CM_DEALLOCATE_CONFIRM && c.syncLevel == CM_NONE) return CM_PROGRAM_PARAMETER_CHECK;
               c.deallocateType = v;
               return CM_OK;
           });
}

void CM_ENTRY cmsst(unsigned char *conversation_ID, CM_INT32 *send_type, CM_RETURN_CODE *return_code) {
    setter("cmsst", conversation_ID, send_type, return_code, CM_SEND_AND_DEALLOCATE, false,
           [](Conversation &c, CM_INT32 v) {
               if (v == CM_SEND_AND_CONFIRM && c.syncLevel == CM_NONE) return CM_PROGRAM_PARAMETER_CHECK;
               c.sendType = v;
               return CM_OK;
           });
}

// Calls complete before they return whatever the processing mode: this interface has no call
// to wait for an outstanding operation, so the mode is only recorded.
void CM_ENTRY cmspm(unsigned char *conversation_ID, CM_INT32 *processing_mode, CM_RETURN_CODE *return_code) {
    setter("cmspm", conversation_ID, processing_mode, return_code, CM_NON_BLOCKING, false,
           [](Conversation &c, CM_INT32 v) {
               c.processingMode = v;
               return CM_OK;
           });
}

void CM_ENTRY cmsrt(unsigned char *conversation_ID, CM_INT32 *receive_type, CM_RETURN_CODE *return_code) {
    setter("cmsrt", conversation_ID, receive_type, return_code, CM_RECEIVE_IMMEDIATE, false,
           [](Conversation &c, CM_INT32 v) {
               c.receiveType = v;
               return CM_OK;
           });
}

void CM_ENTRY cmallc(unsigned char *conversation_ID, CM_RETURN_CODE *return_code) {
    run("cmallc", conversation_ID, return_code, {}, [&](Ctx &x, bool forced) -> CM_RETURN_CODE {
        if (forced) return CM_OK;
        ConvPtr c = x.find(conversation_ID);
        if (!c) return CM_PROGRAM_PARAMETER_CHECK;
        if (c->state != CM_INITIALIZE_STATE) return CM_PROGRAM_STATE_CHECK;
        auto script = x.s.partners.find(c->partnerTp);
        bool echo = script == x.s.partners.end() && c->partnerTp == CPIC_ECHO_TP;
        if (script == x.s.partners.end() && !echo) {
            x.end(c);
            return CM_TPN_NOT_RECOGNIZED;
        }
        startPartner(c, echo ? Script{} : script->second, echo);
        c->state = CM_SEND_STATE;
        return CM_OK;
    });
}

void CM_ENTRY cmacci(unsigned char *conversation_ID, CM_RETURN_CODE *return_code) {
    run("cmacci", conversation_ID, return_code, {}, [&](Ctx &x, bool forced) -> CM_RETURN_CODE {
        if (forced) return CM_OK;
        ConvPtr c = x.find(conversation_ID);
        if (!c) return CM_PROGRAM_PARAMETER_CHECK;
        if (c->state != CM_INITIALIZE_INCOMING_STATE) return CM_PROGRAM_STATE_CHECK;
        auto match = [&] {
            return std::find_if(x.s.incoming.begin(), x.s.incoming.end(),
                                [&](const IncomingAllocation &a) { return a.localTp == c->localTp; });
        };
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(x.s.acceptTimeoutMs);
        bool arrived = c->cv.wait_until(x.lk, deadline, [&] {
            return c->ended || c->state != CM_INITIALIZE_INCOMING_STATE || match() != x.s.incoming.end();
        });
        if (c->ended) return c->endCode;
        if (!arrived || c->state != CM_INITIALIZE_INCOMING_STATE) return CM_PRODUCT_SPECIFIC_ERROR;
        auto it = match();
        c->partnerTp = it->partnerTp;
        x.s.incoming.erase(it);
        // The partner allocated the conversation, so it starts with send control. A partner TP
        // name with no program behind it ends at once.
        auto script = x.s.partners.find(c->partnerTp);
        bool echo = script == x.s.partners.end() && c->partnerTp == CPIC_ECHO_TP;
        c->partnerHasTurn = true;
        startPartner(c, script != x.s.partners.end() ? script->second : Script{}, echo);
        c->state = CM_RECEIVE_STATE;
        return CM_OK;
    });
}

void CM_ENTRY cmcanc(unsigned char *conversation_ID, CM_RETURN_CODE *return_code) {
    run("cmcanc", conversation_ID, return_code, {}, [&](Ctx &x, bool forced) -> CM_RETURN_CODE {
        if (forced) return CM_OK;
        ConvPtr c = x.find(conversation_ID);
        if (!c) return CM_PROGRAM_PARAMETER_CHECK;
        c->toPartner.push_back(Item{Kind::Abend, {}});
        x.end(c, CM_DEALLOCATED_ABEND);
        return CM_OK;
    });
}

void CM_ENTRY cmcfm(unsigned char *conversation_ID, CM_INT32 *request_to_send_received, CM_RETURN_CODE *return_code) {
    run("cmcfm", conversation_ID, return_code, {request_to_send_received}, [&](Ctx &x, bool forced) -> CM_RETURN_CODE {
        if (forced) return CM_OK;
        ConvPtr c = x.find(conversation_ID);
        if (!c) return CM_PROGRAM_PARAMETER_CHECK;
        if (c->state != CM_SEND_STATE || c->syncLevel != CM_CONFIRM) return CM_PROGRAM_STATE_CHECK;
        CM_RETURN_CODE rc = sendStateNews(x, c);
        if (rc == CM_OK) rc = confirm(x, c, Kind::Confirm);
        if (request_to_send_received != nullptr) *request_to_send_received = consumeRts(*c);
        return rc;
    });
}

void CM_ENTRY cmcfmd(unsigned char *conversation_ID, CM_RETURN_CODE *return_code) {
    run("cmcfmd", conversation_ID, return_code, {}, [&](Ctx &x, bool forced) -> CM_RETURN_CODE {
        if (forced) return CM_OK;
        ConvPtr c = x.find(conversation_ID);
        if (!c) return CM_PROGRAM_PARAMETER_CHECK;
        if (!in(c->state, {CM_CONFIRM_STATE, CM_CONFIRM_SEND_STATE, CM_CONFIRM_DEALLOCATE_STATE})) {
            return CM_PROGRAM_STATE_CHECK;
        }
        c->replyToPartner = Reply::Confirmed;
        c->cv.notify_all();
        if (c->state == CM_CONFIRM_STATE) {
            c->state = CM_RECEIVE_STATE;
        } else if (c->state == CM_CONFIRM_SEND_STATE) {
            c->state = CM_SEND_STATE;
        } else {
            x.end(c, CM_DEALLOCATED_NORMAL);
        }
        return CM_OK;
    });
}

void CM_ENTRY cmdeal(unsigned char *conversation_ID, CM_RETURN_CODE *return_code) {
    run("cmdeal", conversation_ID, return_code, {}, [&](Ctx &x, bool forced) -> CM_RETURN_CODE {
        if (forced) return CM_OK;
        ConvPtr c = x.find(conversation_ID);
        if (!c) return CM_PROGRAM_PARAMETER_CHECK;
        if (c->state == CM_SEND_STATE) return deallocateFromSend(x, c);
        // Elsewhere only an abnormal end is possible.
        if (!in(c->state, kConversing) || c->deallocateType != CM_DEALLOCATE_ABEND) return CM_PROGRAM_STATE_CHECK;
        c->toPartner.push_back(Item{Kind::Abend, {}});
        x.end(c);
        return CM_OK;
    });
}

void CM_ENTRY cmflus(unsigned char *conversation_ID, CM_RETURN_CODE *return_code) {
    run("cmflus", conversation_ID, return_code, {}, [&](Ctx &x, bool forced) -> CM_RETURN_CODE {
        if (forced) return CM_OK;
        ConvPtr c = x.find(conversation_ID);
        if (!c) return CM_PROGRAM_PARAMETER_CHECK;
        if (c->state != CM_SEND_STATE) return CM_PROGRAM_STATE_CHECK;
        CM_RETURN_CODE rc = sendStateNews(x, c);
        if (rc == CM_OK) flush(*c);
        return rc;
    });
}

void CM_ENTRY cmptr(unsigned char *conversation_ID, CM_RETURN_CODE *return_code) {
    run("cmptr", conversation_ID, return_code, {}, [&](Ctx &x, bool forced) -> CM_RETURN_CODE {
        if (forced) return CM_OK;
        ConvPtr c = x.find(conversation_ID);
        if (!c) return CM_PROGRAM_PARAMETER_CHECK;
        if (c->state != CM_SEND_STATE) return CM_PROGRAM_STATE_CHECK;
        CM_RETURN_CODE rc = sendStateNews(x, c);
        return rc == CM_OK ? prepareToReceive(x, c) : rc;
    });
}

void CM_ENTRY cmrcv(unsigned char *conversation_ID, unsigned char *buffer, CM_INT32 *requested_length,
                    CM_INT32 *data_received, CM_INT32 *received_length, CM_INT32 *status_received,
                    CM_INT32 *request_to_send_received, CM_RETURN_CODE *return_code) {
    run("cmrcv", conversation_ID, return_code,
        {data_received, received_length, status_received, request_to_send_received},
        [&](Ctx &x, bool forced) -> CM_RETURN_CODE {
            x.rec.value = valueOf(requested_length);
            if (forced) return CM_OK;
            ConvPtr c = x.find(conversation_ID);
            if (!c) return CM_PROGRAM_PARAMETER_CHECK;
            if (c->state != CM_SEND_STATE && c->state != CM_RECEIVE_STATE) return CM_PROGRAM_STATE_CHECK;
            if (requested_length == nullptr || *requested_length < 0 || (buffer == nullptr && *requested_length > 0) ||
                data_received == nullptr || received_length == nullptr || status_received == nullptr ||
                request_to_send_received == nullptr) {
                return CM_PROGRAM_PARAMETER_CHECK;
            }
            CM_RETURN_CODE rc = receive(x, c, buffer, *requested_length, *data_received, *received_length, *status_received);
            if (x.s.reportedReceiveLength >= 0 && *data_received != CM_NO_DATA_RECEIVED) {
                // A misbehaving stack: the bytes copied stay within the buffer, the claim does not.
                *received_length = x.s.reportedReceiveLength;
                x.s.reportedReceiveLength = -1;
            }
            *request_to_send_received = consumeRts(*c);
            return rc;
        });
}

void CM_ENTRY cmrts(unsigned char *conversation_ID, CM_RETURN_CODE *return_code) {
    run("cmrts", conversation_ID, return_code, {}, [&](Ctx &x, bool forced) -> CM_RETURN_CODE {
        if (forced) return CM_OK;
        ConvPtr c = x.find(conversation_ID);
        if (!c) return CM_PROGRAM_PARAMETER_CHECK;
        if (!in(c->state, kConversing)) return CM_PROGRAM_STATE_CHECK;
        // Only recorded: the echo partner gives send control back as soon as it can anyway.
        c->rtsForPartner = true;
        return CM_OK;
    });
}

void CM_ENTRY cmsend(unsigned char *conversation_ID, unsigned char *buffer, CM_INT32 *send_length,
                     CM_INT32 *request_to_send_received, CM_RETURN_CODE *return_code) {
    run("cmsend", conversation_ID, return_code, {request_to_send_received}, [&](Ctx &x, bool forced) -> CM_RETURN_CODE {
        x.rec.value = valueOf(send_length);
        if (send_length != nullptr) logBytes(x.rec, buffer, *send_length);
        if (forced) return CM_OK;
        ConvPtr c = x.find(conversation_ID);
        if (!c) return CM_PROGRAM_PARAMETER_CHECK;
        if (c->state != CM_SEND_STATE) return CM_PROGRAM_STATE_CHECK;
        if (send_length == nullptr || *send_length < 0 || (buffer == nullptr && *send_length > 0) ||
            request_to_send_received == nullptr) {
            return CM_PROGRAM_PARAMETER_CHECK;
        }
        CM_RETURN_CODE rc = sendStateNews(x, c);
        if (rc == CM_OK) {
            c->sendBuffer.emplace_back(buffer, buffer + *send_length);
            switch (c->sendType) {
            case CM_SEND_AND_FLUSH: flush(*c); break;
            case CM_SEND_AND_CONFIRM: rc = confirm(x, c, Kind::Confirm); break;
            case CM_SEND_AND_PREP_TO_RECEIVE: rc = prepareToReceive(x, c); break;
            case CM_SEND_AND_DEALLOCATE: rc = deallocateFromSend(x, c); break;
            default: break; // buffered until something flushes
            }
        }
        *request_to_send_received = consumeRts(*c);
        return rc;
    });
}

void CM_ENTRY cmserr(unsigned char *conversation_ID, CM_INT32 *request_to_send_received, CM_RETURN_CODE *return_code) {
    run("cmserr", conversation_ID, return_code, {request_to_send_received}, [&](Ctx &x, bool forced) -> CM_RETURN_CODE {
        if (forced) return CM_OK;
        ConvPtr c = x.find(conversation_ID);
        if (!c) return CM_PROGRAM_PARAMETER_CHECK;
        if (!in(c->state, kConversing)) return CM_PROGRAM_STATE_CHECK;
        CM_RETURN_CODE rc = CM_OK;
        if (c->state == CM_SEND_STATE) {
            rc = sendStateNews(x, c);
            if (rc == CM_OK) {
                c->sendBuffer.clear();
                tell(*c, Kind::Error);
            }
        } else if (c->state == CM_RECEIVE_STATE && holds(c->toLocal, Kind::Abend)) {
            x.end(c);
            rc = CM_DEALLOCATED_ABEND;
        } else if (c->state == CM_RECEIVE_STATE && holds(c->toLocal, Kind::DeallocNormal)) {
            x.end(c, CM_DEALLOCATED_NORMAL);
            rc = CM_DEALLOCATED_NORMAL;
        } else {
            // Purge what the partner sent and take send control. A partner waiting for a
            // confirmation gets the error as its answer; otherwise it finds it in its input.
            bool confirmPending = c->state != CM_RECEIVE_STATE ||
                                  std::any_of(c->toLocal.begin(), c->toLocal.end(),
                                              [](const Item &it) { return isConfirmKind(it.kind); });
            c->toLocal.clear();
            c->partnerHasTurn = false;
            if (confirmPending) {
                c->replyToPartner = Reply::Error;
                c->cv.notify_all();
            } else {
                tell(*c, Kind::Error);
            }
            c->state = CM_SEND_STATE;
        }
        if (request_to_send_received != nullptr) *request_to_send_received = consumeRts(*c);
        return rc;
    });
}
