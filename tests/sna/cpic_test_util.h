// Helpers of the stand-in CPI-C stack tests: one conversation as a small object.
#ifndef TESTS_SNA_CPIC_TEST_UTIL_H
#define TESTS_SNA_CPIC_TEST_UTIL_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "cpic_control.h"
#include "../common/cpic_log.h"

namespace cpictest {

inline std::vector<unsigned char> bytes(const std::string &s) { return {s.begin(), s.end()}; }

// The name blank padded to 8 bytes, as a program passes it.
inline std::vector<unsigned char> sdn(const std::string &name, unsigned char pad = ' ') {
    std::vector<unsigned char> v(CM_SDN_SIZE, pad);
    std::memcpy(v.data(), name.data(), std::min(name.size(), v.size()));
    return v;
}

struct Received {
    CM_RETURN_CODE rc;
    CM_INT32 dataReceived;
    CM_INT32 length;
    CM_INT32 status;
    CM_INT32 rts;
    std::string data;
};

struct Conv {
    unsigned char id[CM_CID_SIZE] = {};

    CM_RETURN_CODE init(const std::string &destination = CPIC_ECHO_DESTINATION) {
        std::vector<unsigned char> name = sdn(destination);
        CM_RETURN_CODE rc = -1;
        cminit(id, name.data(), &rc);
        return rc;
    }
    CM_RETURN_CODE tpName(const std::string &tp) {
        std::vector<unsigned char> name = bytes(tp);
        CM_INT32 n = static_cast<CM_INT32>(name.size());
        CM_RETURN_CODE rc = -1;
        cmstpn(id, name.data(), &n, &rc);
        return rc;
    }
    // Initializes (with the partner TP name if one is given) and allocates.
    void open(const std::string &destination = CPIC_ECHO_DESTINATION, const std::string &tp = "") {
        ASSERT_EQ(init(destination), CM_OK);
        if (!tp.empty()) {
            ASSERT_EQ(tpName(tp), CM_OK);
        }
        ASSERT_EQ(call(cmallc), CM_OK);
    }
    CM_RETURN_CODE call(void (*f)(unsigned char *, CM_RETURN_CODE *)) {
        CM_RETURN_CODE rc = -1;
        f(id, &rc);
        return rc;
    }
    CM_RETURN_CODE set(void (*f)(unsigned char *, CM_INT32 *, CM_RETURN_CODE *), CM_INT32 value) {
        CM_RETURN_CODE rc = -1;
        f(id, &value, &rc);
        return rc;
    }
    CM_RETURN_CODE send(const std::string &data, CM_INT32 *rtsOut = nullptr) {
        std::vector<unsigned char> b = bytes(data);
        CM_INT32 n = static_cast<CM_INT32>(b.size());
        CM_INT32 rts = 77;
        CM_RETURN_CODE rc = -1;
        cmsend(id, b.data(), &n, &rts, &rc);
        if (rtsOut != nullptr) *rtsOut = rts;
        return rc;
    }
    Received receive(CM_INT32 requested = 256) {
        std::vector<unsigned char> buffer(static_cast<std::size_t>(requested) + 1, 0);
        Received r{-1, 77, 77, 77, 77, {}};
        cmrcv(id, buffer.data(), &requested, &r.dataReceived, &r.length, &r.status, &r.rts, &r.rc);
        if (r.length >= 0 && r.length <= requested) r.data.assign(buffer.begin(), buffer.begin() + r.length);
        return r;
    }
    CM_RETURN_CODE confirm(CM_INT32 *rtsOut = nullptr) {
        CM_INT32 rts = 77;
        CM_RETURN_CODE rc = -1;
        cmcfm(id, &rts, &rc);
        if (rtsOut != nullptr) *rtsOut = rts;
        return rc;
    }
    CM_RETURN_CODE sendError() {
        CM_INT32 rts = 77;
        CM_RETURN_CODE rc = -1;
        cmserr(id, &rts, &rc);
        return rc;
    }
    CM_INT32 state() const { return cpicCtl_ConversationState(id); }
};

// Every test starts and ends with a fresh stack, so no partner thread outlives it.
class CpicTest : public ::testing::Test {
protected:
    void SetUp() override { cpicCtl_Reset(); }
    void TearDown() override {
        cpicCtl_Reset();
        EXPECT_EQ(cpicCtl_ConversationCount(), 0);
    }

    static void definePartner(const char *tp, const std::vector<CpicPartnerStep> &steps, const char *destination) {
        cpicCtl_DefinePartner(tp, steps.data(), static_cast<int>(steps.size()));
        if (destination != nullptr) cpicCtl_DefineSideInfo(destination, tp);
    }

    static std::vector<CpicCallRecord> calls(const char *name = nullptr) { return cpicCalls(name); }
};

inline CpicPartnerStep step(CpicStepKind kind, CM_INT32 value = 0) { return {kind, nullptr, value}; }
// The text must outlive the definition call only (cpicCtl_DefinePartner copies it).
inline CpicPartnerStep sendStep(const char *text) {
    return {CPIC_STEP_SEND, reinterpret_cast<const unsigned char *>(text), static_cast<CM_INT32>(std::strlen(text))};
}

} // namespace cpictest

#endif
