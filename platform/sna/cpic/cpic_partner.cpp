// The partner programs of the stand-in: scripted ones and the built-in echo.
// A partner runs on its own thread and holds the stack mutex except while it waits, so steps
// that follow one another without a wait (SEND then GIVE_TURN, say) reach the local program
// together; that is what makes the status arrive with the last record.
#include <chrono>

#include "cpic_stack.h"

namespace cpic {
namespace {

class Partner {
public:
    Partner(ConvPtr c, std::unique_lock<std::mutex> &lk) : c_(std::move(c)), lk_(lk) {}

    void run(const Script &script, bool echo) {
        if (echo) {
            runEcho();
            return;
        }
        for (const Step &st : script) {
            if (!step(st)) return;
        }
        // The script is over: end normally, which needs send control.
        if (takeTurn()) toLocal(Kind::DeallocNormal);
    }

private:
    void toLocal(Kind kind, Bytes data = {}) {
        c_->toLocal.push_back(Item{kind, std::move(data)});
        c_->cv.notify_all();
    }

    void replyToLocal(Reply r) {
        c_->replyToLocal = r;
        c_->cv.notify_all();
    }

    // Takes in what the local program sent. False once the conversation is over for the partner.
    bool absorb() {
        while (!c_->toPartner.empty()) {
            Item it = std::move(c_->toPartner.front());
            c_->toPartner.pop_front();
            switch (it.kind) {
            case Kind::Data: received_.push_back(std::move(it.data)); break;
            case Kind::Send: c_->partnerHasTurn = true; break;
            case Kind::Confirm: replyToLocal(Reply::Confirmed); break;
            case Kind::ConfirmSend:
                replyToLocal(Reply::Confirmed);
                c_->partnerHasTurn = true;
                break;
            case Kind::ConfirmDealloc: replyToLocal(Reply::Confirmed); return false;
            case Kind::DeallocNormal:
            case Kind::Abend: return false;
            case Kind::Error:
                // The local program discards what it sent and keeps (or takes) send control.
                received_.clear();
                c_->partnerHasTurn = false;
                break;
            }
        }
        return !c_->ended;
    }

    bool waitForLocal() {
        c_->cv.wait(lk_, [&] { return c_->ended || !c_->toPartner.empty(); });
        return !c_->ended;
    }

    // Receives (confirming whatever is asked) until send control is ours.
    bool takeTurn() {
        for (;;) {
            if (!absorb()) return false;
            if (c_->partnerHasTurn) return true;
            if (!waitForLocal()) return false;
        }
    }

    bool step(const Step &st) {
        switch (st.kind) {
        case CPIC_STEP_WAIT_TURN: return takeTurn();
        case CPIC_STEP_SEND:
            if (!takeTurn()) return false;
            toLocal(Kind::Data, st.data);
            return true;
        case CPIC_STEP_GIVE_TURN:
            if (!takeTurn()) return false;
            c_->partnerHasTurn = false;
            toLocal(Kind::Send);
            return true;
        case CPIC_STEP_CONFIRM:
        case CPIC_STEP_CONFIRM_DEALLOCATE: {
            if (!takeTurn()) return false;
            c_->replyToPartner = Reply::None;
            toLocal(st.kind == CPIC_STEP_CONFIRM ? Kind::Confirm : Kind::ConfirmDealloc);
            c_->cv.wait(lk_, [&] { return c_->ended || c_->replyToPartner != Reply::None; });
            if (c_->ended) return false;
            // On an error reply the local program took send control (it set partnerHasTurn).
            c_->replyToPartner = Reply::None;
            return true;
        }
        case CPIC_STEP_DEALLOCATE:
            if (takeTurn()) toLocal(Kind::DeallocNormal);
            return false;
        case CPIC_STEP_ABEND: toLocal(Kind::Abend); return false;
        case CPIC_STEP_SEND_ERROR: return sendError();
        case CPIC_STEP_REQUEST_TO_SEND:
            c_->rtsForLocal = true;
            c_->cv.notify_all();
            return true;
        case CPIC_STEP_DELAY:
            if (st.value > 0) {
                c_->cv.wait_for(lk_, std::chrono::milliseconds(st.value), [&] { return c_->ended; });
            }
            return !c_->ended;
        case CPIC_STEP_ECHO:
            received_.clear();
            runEcho();
            return false;
        }
        return true; // unknown kinds are skipped
    }

    // An error from the partner purges what the local program sent and gives the partner send
    // control. If the local program waits for a confirmation, the error is the answer to it.
    bool sendError() {
        bool confirmPending = false;
        while (!c_->toPartner.empty()) {
            Kind k = c_->toPartner.front().kind;
            c_->toPartner.pop_front();
            switch (k) {
            case Kind::Send: c_->partnerHasTurn = true; break;
            case Kind::Confirm:
            case Kind::ConfirmSend:
            case Kind::ConfirmDealloc: confirmPending = true; break;
            case Kind::DeallocNormal:
            case Kind::Abend: return false;
            case Kind::Error: c_->partnerHasTurn = false; break;
            case Kind::Data: break;
            }
        }
        received_.clear();
        c_->partnerHasTurn = true;
        if (confirmPending) {
            replyToLocal(Reply::Error);
        } else {
            toLocal(Kind::Error);
        }
        return !c_->ended;
    }

    // Whenever it gets send control it sends back every record received since, then gives
    // control back; it confirms what is asked and ends when the local program ends.
    void runEcho() {
        for (;;) {
            if (!absorb()) return;
            if (c_->partnerHasTurn) {
                for (Bytes &r : received_) toLocal(Kind::Data, std::move(r));
                received_.clear();
                c_->partnerHasTurn = false;
                toLocal(Kind::Send);
            }
            if (!waitForLocal()) return;
        }
    }

    ConvPtr c_;
    std::unique_lock<std::mutex> &lk_;
    std::vector<Bytes> received_;
};

void partnerMain(const ConvPtr &c, const Script &script, bool echo) {
    std::unique_lock<std::mutex> lk(stack().mu);
    try {
        Partner(c, lk).run(script, echo);
    } catch (...) {
        // Out of memory in the partner: the local program sees it end abnormally.
        try {
            if (!c->ended) c->toLocal.push_back(Item{Kind::Abend, {}});
        } catch (...) {
        }
        c->cv.notify_all();
    }
}

// A closure of this file's own, so no thread state type of ours is exported from the library.
std::thread launch(const ConvPtr &c, Script script, bool echo) {
    return std::thread([c, s = std::move(script), echo] { partnerMain(c, s, echo); });
}

} // namespace

void startPartner(const ConvPtr &c, Script script, bool echo) { c->partner = launch(c, std::move(script), echo); }

} // namespace cpic
