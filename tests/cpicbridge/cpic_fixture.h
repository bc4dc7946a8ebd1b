// Shared fixture of the conversation bridge tests: a fresh stand-in stack and Java objects.
#ifndef TESTS_CPIC_FIXTURE_H
#define TESTS_CPIC_FIXTURE_H

#include <string>
#include <vector>

#include "cpic_control.h"
#include "../common/cpic_log.h"
#include "jvm_test.h"

class CpicTest : public JvmTest {
protected:
    void SetUp() override {
        JvmTest::SetUp();
        cpicCtl_Reset();
        conversation = jvmtest::newObject("com/zanvor/kelvra/services/comms/Lu62Conversation");
    }
    void TearDown() override {
        cpicCtl_Reset();
        JvmTest::TearDown();
    }

    jint call(const char *method) { return jvmtest::callInt(conversation, method, "()I"); }
    jint callWith(const char *method, jobject message) {
        return jvmtest::callInt(conversation, method, "(Ljava/lang/Object;)I", message);
    }

    // Initializes an outgoing conversation to the given destination and allocates it.
    void allocate(const char *destination = CPIC_ECHO_DESTINATION) {
        jvmtest::setChars(conversation, "symbolicDestinationName", jvmtest::chars(destination, 8));
        ASSERT_EQ(call("CPIC_Initialize_Conversation"), CM_OK);
        ASSERT_EQ(call("CPIC_Allocate"), CM_OK);
    }

    jobject message(int requestedLength, const std::vector<jchar> &buffer) {
        jobject m = jvmtest::newObject("com/zanvor/kelvra/services/comms/Lu62Message");
        jvmtest::setInt(m, "fieldRequestedLength", requestedLength);
        jvmtest::setChars(m, "fieldBuffer", buffer);
        return m;
    }

    // The calls the stack saw since the last reset, optionally only those of one name.
    static std::vector<CpicCallRecord> calls(const char *name = nullptr) { return cpicCalls(name); }

    static std::vector<unsigned char> bytesOf(const CpicCallRecord &record) {
        int n = record.byte_count < CPIC_LOG_BYTES ? record.byte_count : CPIC_LOG_BYTES;
        return std::vector<unsigned char>(record.bytes, record.bytes + n);
    }

    jobject conversation = nullptr;
};

#endif
