#include "jni_fields.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

thread_local NativeCallScope *currentScope = nullptr;

// A local reference released when it goes out of scope, so a helper called many times in
// one native never piles up references.
class LocalRef {
public:
    LocalRef(JNIEnv *env, jobject ref) : env_(env), ref_(ref) {}
    ~LocalRef() {
        if (ref_ != nullptr) env_->DeleteLocalRef(ref_);
    }
    LocalRef(const LocalRef &) = delete;
    LocalRef &operator=(const LocalRef &) = delete;
    jobject get() const { return ref_; }

private:
    JNIEnv *env_;
    jobject ref_;
};

#ifdef BRIDGE_CPIC
constexpr std::size_t kNameBufferSize = 50;

// Copies a name into a 50-byte lookup buffer; a name that does not fit is refused.
bool copyName(char (&buffer)[kNameBufferSize], const char *name) {
    std::size_t length = std::strlen(name);
    if (length >= kNameBufferSize) return false;
    std::memcpy(buffer, name, length + 1);
    return true;
}
#endif

} // namespace

NativeCallScope::NativeCallScope(JNIEnv *env) : env_(env), outer_(currentScope) {
    currentScope = this;
}

NativeCallScope::~NativeCallScope() {
    currentScope = outer_;
    if (held_ == nullptr) return;
    if (!env_->ExceptionCheck()) env_->Throw(held_);
    env_->DeleteLocalRef(held_);
}

bool NativeCallScope::absorb(JNIEnv *env) {
    if (!env->ExceptionCheck()) return false;
    NativeCallScope *scope = currentScope;
    if (scope == nullptr) return true; // no native frame to hand it back: leave it pending
    jthrowable thrown = env->ExceptionOccurred();
    env->ExceptionClear();
    if (scope->held_ == nullptr) {
        scope->held_ = thrown;
    } else {
        env->DeleteLocalRef(thrown);
    }
    return true;
}

void NativeCallScope::raise(JNIEnv *env, const char *className, const char *message) {
    absorb(env);
    jclass cls = env->FindClass(className);
    if (cls != nullptr) {
        env->ThrowNew(cls, message);
        env->DeleteLocalRef(cls);
    }
    absorb(env);
}

jfieldID myGetFieldID(JNIEnv *env, jobject obj, const char *fieldName, const char *signature) {
    if (obj == nullptr) return nullptr;
#ifdef BRIDGE_CPIC
    char name[kNameBufferSize];
    char sig[kNameBufferSize];
    if (!copyName(name, fieldName) || !copyName(sig, signature)) {
        NativeCallScope::raise(env, "java/lang/NoSuchFieldError", fieldName);
        return nullptr;
    }
#else
    const char *name = fieldName;
    const char *sig = signature;
#endif
    LocalRef cls(env, env->GetObjectClass(obj));
    jfieldID id = env->GetFieldID(static_cast<jclass>(cls.get()), name, sig);
    if (NativeCallScope::absorb(env)) return nullptr;
    return id;
}

jobject myGetObjectField(JNIEnv *env, jobject obj, const char *fieldName, const char *signature) {
    jfieldID id = myGetFieldID(env, obj, fieldName, signature);
    if (id == nullptr) return nullptr;
    return env->GetObjectField(obj, id);
}

jboolean myGetBooleanField(JNIEnv *env, jobject obj, const char *fieldName) {
    jfieldID id = myGetFieldID(env, obj, fieldName, "Z");
    return id == nullptr ? JNI_FALSE : env->GetBooleanField(obj, id);
}

jint myGetIntField(JNIEnv *env, jobject obj, const char *fieldName) {
    jfieldID id = myGetFieldID(env, obj, fieldName, "I");
    return id == nullptr ? 0 : env->GetIntField(obj, id);
}

jchar myGetCharField(JNIEnv *env, jobject obj, const char *fieldName) {
    jfieldID id = myGetFieldID(env, obj, fieldName, "C");
    return id == nullptr ? jchar{0} : env->GetCharField(obj, id);
}

jdouble myGetDoubleField(JNIEnv *env, jobject obj, const char *fieldName) {
    jfieldID id = myGetFieldID(env, obj, fieldName, "D");
    return id == nullptr ? 0.0 : env->GetDoubleField(obj, id);
}

void mySetBooleanField(JNIEnv *env, jobject obj, const char *fieldName, jboolean target) {
    jfieldID id = myGetFieldID(env, obj, fieldName, "Z");
    if (id != nullptr) env->SetBooleanField(obj, id, target != 0 ? JNI_TRUE : JNI_FALSE);
}

void mySetIntField(JNIEnv *env, jobject obj, const char *fieldName, jint target) {
    jfieldID id = myGetFieldID(env, obj, fieldName, "I");
    if (id != nullptr) env->SetIntField(obj, id, target);
}

void mySetCharField(JNIEnv *env, jobject obj, const char *fieldName, jchar target) {
    jfieldID id = myGetFieldID(env, obj, fieldName, "C");
    if (id != nullptr) env->SetCharField(obj, id, target);
}

void mySetDoubleField(JNIEnv *env, jobject obj, const char *fieldName, jdouble target) {
    jfieldID id = myGetFieldID(env, obj, fieldName, "D");
    if (id != nullptr) env->SetDoubleField(obj, id, target);
}

void myGetCharArray(JNIEnv *env, jobject obj, const char *fieldName, unsigned char *target,
                    std::size_t capacity) {
    LocalRef array(env, myGetObjectField(env, obj, fieldName, "[C"));
    if (array.get() == nullptr) return;
    auto chars = static_cast<jcharArray>(array.get());
    jsize end = env->GetArrayLength(chars);
    jchar *mytarget = env->GetCharArrayElements(chars, nullptr);
    if (mytarget == nullptr) {
        NativeCallScope::absorb(env);
        return;
    }
    std::size_t count = static_cast<std::size_t>(end) < capacity ? static_cast<std::size_t>(end)
                                                                  : capacity;
    for (std::size_t i = 0; i < count; ++i) target[i] = static_cast<unsigned char>(mytarget[i] & 0xFF);
    env->ReleaseCharArrayElements(chars, mytarget, 0);
}

void mySetCharArray(JNIEnv *env, jobject obj, const char *fieldName, jsize end,
                    const unsigned char *target) {
    if (end <= 0) return;
    LocalRef array(env, myGetObjectField(env, obj, fieldName, "[C"));
    if (array.get() == nullptr) return;
    std::unique_ptr<jchar[]> chars(new (std::nothrow) jchar[static_cast<std::size_t>(end)]);
    if (!chars) return;
    for (jsize i = 0; i < end; ++i) chars[i] = target[i];
    env->SetCharArrayRegion(static_cast<jcharArray>(array.get()), 0, end, chars.get());
#ifdef BRIDGE_CPIC
    if (env->ExceptionCheck()) {
        std::fputs("Exception occurred SetCharArray \n", stdout);
        std::fflush(nullptr);
        env->ExceptionDescribe();
        env->ExceptionClear();
    }
#else
    NativeCallScope::absorb(env);
#endif
}
