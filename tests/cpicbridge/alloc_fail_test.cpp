// The data natives when their buffer cannot be allocated: the natives of a copy of the bridge
// whose calloc can be made to fail are bound to the Java methods for the length of the test.
#include <dlfcn.h>

#include "cpic_fixture.h"

using namespace jvmtest;

namespace {

const char *const kSendSymbol = "Java_com_zanvor_kelvra_services_comms_Lu62Conversation_CPIC_1Send_1Data";
const char *const kReceiveSymbol = "Java_com_zanvor_kelvra_services_comms_Lu62Conversation_CPIC_1Receive";
const char *const kMessageSignature = "(Ljava/lang/Object;)I";

void bind(jclass cls, void *library) {
    JNINativeMethod methods[] = {
        {const_cast<char *>("CPIC_Send_Data"), const_cast<char *>(kMessageSignature), dlsym(library, kSendSymbol)},
        {const_cast<char *>("CPIC_Receive"), const_cast<char *>(kMessageSignature), dlsym(library, kReceiveSymbol)},
    };
    ASSERT_NE(methods[0].fnPtr, nullptr);
    ASSERT_NE(methods[1].fnPtr, nullptr);
    ASSERT_EQ(env()->RegisterNatives(cls, methods, 2), 0);
}

TEST_F(CpicTest, BufferThatCannotBeAllocatedIsReportedAndNothingElseDone) {
    void *faulty = dlopen(ALLOCFAIL_LIB, RTLD_NOW | RTLD_LOCAL);
    void *real = dlopen(CPICBRIDGE_LIB, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(faulty, nullptr) << dlerror();
    ASSERT_NE(real, nullptr) << dlerror();
    auto failNextCalloc = reinterpret_cast<void (*)()>(dlsym(faulty, "allocFail_failNextCalloc"));
    ASSERT_NE(failNextCalloc, nullptr);
    jclass cls = findClass("com/zanvor/kelvra/services/comms/Lu62Conversation");
    bind(cls, faulty);

    allocate();
    const int before = cpicCtl_CallCount();
    const std::pair<const char *, const char *> cases[] = {
        {"CPIC_Send_Data", "buffer null a send\n"},
        {"CPIC_Receive", "buffer null a receive\n"},
    };
    for (const auto &[method, text] : cases) {
        jobject m = message(4, chars("ABCD"));
        setInt(m, "fieldReceivedLength", 77);
        setBoolean(m, "fieldRequestToSendReceived", JNI_TRUE);
        failNextCalloc();
        StdoutCapture out;
        EXPECT_EQ(callWith(method, m), -1) << method;
        EXPECT_EQ(out.finish(), text);
        EXPECT_EQ(getInt(m, "fieldReceivedLength"), 77) << method;
        EXPECT_EQ(getBoolean(m, "fieldRequestToSendReceived"), JNI_TRUE) << method;
        EXPECT_EQ(getChars(m, "fieldBuffer"), chars("ABCD")) << method;
    }
    EXPECT_EQ(cpicCtl_CallCount(), before); // CPI-C was never called

    // Without an injected failure the copy behaves like the bridge itself.
    EXPECT_EQ(callWith("CPIC_Send_Data", message(2, chars("OK"))), CM_OK);

    bind(cls, real);
    dlclose(real);
    dlclose(faulty);
}

} // namespace
