// Natives of Lu62Conversation: each working native makes exactly one CPI-C call with
// arguments taken from the Java object and returns the CPI-C return code unchanged.
#include <jni.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "cpic.h"
#include "jni_fields.h"

namespace {

constexpr std::size_t kConversationIdSize = 10; // CPI-C uses the first 8 bytes
constexpr std::size_t kDestinationSize = 8;
constexpr std::size_t kTpNameSize = 64;
constexpr jint kNoBuffer = -1;

const char *const kVersion = "LU 6.2 Wrapper library for Windows NT. OSTREL for Java version 4.0";

using ConversationCall = void(CM_ENTRY *)(unsigned char *, CM_RETURN_CODE *);
// A call with one value besides the identifier: a characteristic in, or request-to-send out.
using ValueCall = void(CM_ENTRY *)(unsigned char *, CM_INT32 *, CM_RETURN_CODE *);

struct ConversationId {
    unsigned char bytes[kConversationIdSize] = {};
};

ConversationId readConversationId(JNIEnv *env, jobject self) {
    ConversationId id;
    myGetCharArray(env, self, "conversationId", id.bytes, kConversationIdSize);
    return id;
}

struct TpName {
    unsigned char bytes[kTpNameSize] = {};
    CM_INT32 length = 0; // bytes before the first zero byte
};

TpName readTpName(JNIEnv *env, jobject self) {
    TpName name;
    myGetCharArray(env, self, "tpName", name.bytes, kTpNameSize);
    while (name.length < static_cast<CM_INT32>(kTpNameSize) && name.bytes[name.length] != 0) ++name.length;
    return name;
}

jint conversationCall(JNIEnv *env, jobject self, ConversationCall call) {
    NativeCallScope scope(env);
    ConversationId id = readConversationId(env, self);
    CM_RETURN_CODE rc = 0;
    call(id.bytes, &rc);
    return rc;
}

jint characteristicCall(JNIEnv *env, jobject self, ValueCall call, CM_INT32 value) {
    NativeCallScope scope(env);
    ConversationId id = readConversationId(env, self);
    CM_RETURN_CODE rc = 0;
    call(id.bytes, &value, &rc);
    return rc;
}

jint initializeCall(JNIEnv *env, jobject self, bool outgoing) {
    NativeCallScope scope(env);
    ConversationId id;
    CM_RETURN_CODE rc = 0;
    if (outgoing) {
        unsigned char destination[kDestinationSize] = {};
        myGetCharArray(env, self, "symbolicDestinationName", destination, kDestinationSize);
        cminit(id.bytes, destination, &rc);
    } else {
        cminic(id.bytes, &rc);
    }
    mySetCharArray(env, self, "conversationId", static_cast<jsize>(kConversationIdSize), id.bytes);
    return rc;
}

void setRequestToSend(JNIEnv *env, jobject messageObj, CM_INT32 requestToSend) {
    mySetBooleanField(env, messageObj, "fieldRequestToSendReceived",
                      static_cast<jboolean>(requestToSend & 0xFF));
}

// A message object is required by every data native: without it there is nowhere to put
// the results, so the call is refused before CPI-C is reached.
bool requireMessage(JNIEnv *env, jobject messageObj) {
    if (messageObj != nullptr) return true;
    NativeCallScope::raise(env, "java/lang/NullPointerException", "messageObj is null");
    return false;
}

// The requested length sizes the native buffer; a negative one is refused before any
// allocation or CPI-C call.
bool requireLength(JNIEnv *env, jint length) {
    if (length >= 0) return true;
    char message[80];
    std::snprintf(message, sizeof message, "fieldRequestedLength is negative: %d", static_cast<int>(length));
    NativeCallScope::raise(env, "java/lang/IllegalArgumentException", message);
    return false;
}

struct FreeDeleter {
    void operator()(unsigned char *p) const { std::free(p); }
};
using Buffer = std::unique_ptr<unsigned char, FreeDeleter>;

// length + 1 zeroed bytes: bytes that the Java array does not supply are sent as zeros.
Buffer allocateBuffer(jint length, const char *failureText) {
    Buffer buffer(static_cast<unsigned char *>(std::calloc(static_cast<std::size_t>(length) + 1, 1)));
    if (!buffer) {
        std::fputs(failureText, stdout);
        std::fflush(nullptr);
    }
    return buffer;
}

jint indicationCall(JNIEnv *env, jobject self, jobject messageObj, ValueCall call) {
    NativeCallScope scope(env);
    if (!requireMessage(env, messageObj)) return kNoBuffer;
    ConversationId id = readConversationId(env, self);
    CM_INT32 requestToSend = 0;
    CM_RETURN_CODE rc = 0;
    call(id.bytes, &requestToSend, &rc);
    setRequestToSend(env, messageObj, requestToSend);
    return rc;
}

} // namespace

#define CPIC_NATIVE(name) JNIEXPORT jint JNICALL Java_com_zanvor_kelvra_services_comms_Lu62Conversation_##name

extern "C" {

JNIEXPORT jstring JNICALL
Java_com_zanvor_kelvra_services_comms_Lu62Conversation_getWrapperLU62Version(JNIEnv *env, jclass) {
    return env->NewStringUTF(kVersion);
}

CPIC_NATIVE(CPIC_1Accept_1Incoming)(JNIEnv *env, jobject self) { return conversationCall(env, self, cmacci); }
CPIC_NATIVE(CPIC_1Allocate)(JNIEnv *env, jobject self) { return conversationCall(env, self, cmallc); }
CPIC_NATIVE(CPIC_1Cancel_1Conversation)(JNIEnv *env, jobject self) { return conversationCall(env, self, cmcanc); }
CPIC_NATIVE(CPIC_1Confirmed)(JNIEnv *env, jobject self) { return conversationCall(env, self, cmcfmd); }
CPIC_NATIVE(CPIC_1Deallocate)(JNIEnv *env, jobject self) { return conversationCall(env, self, cmdeal); }
CPIC_NATIVE(CPIC_1Flush)(JNIEnv *env, jobject self) { return conversationCall(env, self, cmflus); }
CPIC_NATIVE(CPIC_1Prepare_1To_1Receive)(JNIEnv *env, jobject self) { return conversationCall(env, self, cmptr); }
CPIC_NATIVE(CPIC_1Request_1To_1Send)(JNIEnv *env, jobject self) { return conversationCall(env, self, cmrts); }

CPIC_NATIVE(CPIC_1Initialize_1Conversation)(JNIEnv *env, jobject self) { return initializeCall(env, self, true); }
CPIC_NATIVE(CPIC_1Initialize_1For_1Incoming)(JNIEnv *env, jobject self) { return initializeCall(env, self, false); }

CPIC_NATIVE(CPIC_1Set_1Deallocate_1Type)(JNIEnv *env, jobject self, jint jdeallocateType) {
    return characteristicCall(env, self, cmsdt, jdeallocateType);
}
CPIC_NATIVE(CPIC_1Set_1Conversation_1Type)(JNIEnv *env, jobject self, jboolean jconversationType) {
    return characteristicCall(env, self, cmsct, jconversationType);
}
CPIC_NATIVE(CPIC_1Set_1Processing_1Mode)(JNIEnv *env, jobject self, jboolean jprocessingMode) {
    return characteristicCall(env, self, cmspm, jprocessingMode);
}
CPIC_NATIVE(CPIC_1Set_1Receive_1Type)(JNIEnv *env, jobject self, jboolean jreceiveType) {
    return characteristicCall(env, self, cmsrt, jreceiveType);
}
CPIC_NATIVE(CPIC_1Set_1Send_1Type)(JNIEnv *env, jobject self, jint jsendType) {
    return characteristicCall(env, self, cmsst, jsendType);
}
CPIC_NATIVE(CPIC_1Set_1Sync_1Level)(JNIEnv *env, jobject self, jboolean jsyncLevel) {
    return characteristicCall(env, self, cmssl, jsyncLevel);
}

CPIC_NATIVE(CPIC_1Set_1TP_1Name)(JNIEnv *env, jobject self) {
    NativeCallScope scope(env);
    ConversationId id = readConversationId(env, self);
    TpName name = readTpName(env, self);
    CM_RETURN_CODE rc = 0;
    cmstpn(id.bytes, name.bytes, &name.length, &rc);
    return rc;
}

CPIC_NATIVE(CPIC_1Specify_1Local_1TP_1Name)(JNIEnv *env, jobject self) {
    NativeCallScope scope(env);
    TpName name = readTpName(env, self);
    CM_RETURN_CODE rc = 0;
    cmsltp(name.bytes, &name.length, &rc);
    return rc;
}

// Kept for the Java class's interface; they do nothing. 0 is the CPI-C code for success.
CPIC_NATIVE(CPIC_1Set_1LU_1Name)(JNIEnv *, jobject) { return CM_OK; }
CPIC_NATIVE(Unregister_1For_1Allocate)(JNIEnv *, jobject) { return CM_OK; }

JNIEXPORT jstring JNICALL Java_com_zanvor_kelvra_services_comms_Lu62Conversation_Accept_1Conversation(
    JNIEnv *, jobject, jstring, jstring) {
    return nullptr;
}

JNIEXPORT jstring JNICALL Java_com_zanvor_kelvra_services_comms_Lu62Conversation_Allocate_1Conversation(
    JNIEnv *, jobject, jstring, jstring, jstring) {
    return nullptr;
}

JNIEXPORT jstring JNICALL Java_com_zanvor_kelvra_services_comms_Lu62Conversation_Send_1Receive_1Complete(
    JNIEnv *, jobject, jobject, jstring, jstring, jint, jcharArray, jstring, jstring) {
    return nullptr;
}

CPIC_NATIVE(CPIC_1Confirm)(JNIEnv *env, jobject self, jobject messageObj) {
    return indicationCall(env, self, messageObj, cmcfm);
}

CPIC_NATIVE(CPIC_1Send_1Error)(JNIEnv *env, jobject self, jobject messageObj) {
    return indicationCall(env, self, messageObj, cmserr);
}

CPIC_NATIVE(CPIC_1Send_1Data)(JNIEnv *env, jobject self, jobject messageObj) {
    NativeCallScope scope(env);
    if (!requireMessage(env, messageObj)) return kNoBuffer;
    CM_INT32 sendLength = myGetIntField(env, messageObj, "fieldRequestedLength");
    if (!requireLength(env, sendLength)) return kNoBuffer;
    Buffer buffer = allocateBuffer(sendLength, "buffer null a send\n");
    if (!buffer) return kNoBuffer;
    ConversationId id = readConversationId(env, self);
    myGetCharArray(env, messageObj, "fieldBuffer", buffer.get(), static_cast<std::size_t>(sendLength) + 1);
    CM_INT32 requestToSend = 0;
    CM_RETURN_CODE rc = 0;
    cmsend(id.bytes, buffer.get(), &sendLength, &requestToSend, &rc);
    setRequestToSend(env, messageObj, requestToSend);
    return rc;
}

CPIC_NATIVE(CPIC_1Receive)(JNIEnv *env, jobject self, jobject messageObj) {
    NativeCallScope scope(env);
    if (!requireMessage(env, messageObj)) return kNoBuffer;
    const CM_INT32 requestedLength = myGetIntField(env, messageObj, "fieldRequestedLength");
    if (!requireLength(env, requestedLength)) return kNoBuffer;
    Buffer buffer = allocateBuffer(requestedLength, "buffer null a receive\n");
    if (!buffer) return kNoBuffer;
    ConversationId id = readConversationId(env, self);
    CM_INT32 dataReceived = 0, receivedLength = 0, statusReceived = 0, requestToSend = 0;
    CM_INT32 requestedArgument = requestedLength;
    CM_RETURN_CODE rc = 0;
    cmrcv(id.bytes, buffer.get(), &requestedArgument, &dataReceived, &receivedLength, &statusReceived,
          &requestToSend, &rc);
    mySetIntField(env, messageObj, "fieldDataReceivedType", dataReceived);
    setRequestToSend(env, messageObj, requestToSend);
    mySetIntField(env, messageObj, "fieldStatusReceived", statusReceived);
    // A stack that claims more than was requested (or a negative length) has written
    // nothing trustworthy: report 0 and copy nothing. Exactly the requested length is data.
    if (receivedLength < 0 || receivedLength > requestedLength) receivedLength = 0;
    mySetCharArray(env, messageObj, "fieldBuffer", receivedLength, buffer.get());
    mySetIntField(env, messageObj, "fieldReceivedLength", receivedLength);
    return rc;
}

} // extern "C"
