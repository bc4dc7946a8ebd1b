#include "jvm_test.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>

#ifndef TEST_CLASSPATH
#error TEST_CLASSPATH must name the class path of the project jars
#endif

namespace jvmtest {
namespace {

JavaVM *theVm = nullptr;
std::mutex reportsMutex;
std::string reports;

// The VM prints its diagnostics, -Xcheck:jni warnings among them, through this hook.
jint JNICALL vmPrintf(FILE *stream, const char *format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    char text[4096];
    int n = std::vsnprintf(text, sizeof text, format, copy);
    va_end(copy);
    {
        std::lock_guard<std::mutex> lock(reportsMutex);
        reports += text;
    }
    std::fputs(text, stream);
    return n;
}

} // namespace

void startVm() {
    std::string classPath = std::string("-Djava.class.path=") + TEST_CLASSPATH;
    JavaVMOption options[] = {
        {const_cast<char *>(classPath.c_str()), nullptr},
        {const_cast<char *>("-Xcheck:jni"), nullptr},
        {const_cast<char *>("-Xmx256m"), nullptr},
        {const_cast<char *>("vfprintf"), reinterpret_cast<void *>(&vmPrintf)},
    };
    JavaVMInitArgs args{};
    args.version = JNI_VERSION_1_8;
    args.nOptions = static_cast<jint>(sizeof options / sizeof options[0]);
    args.options = options;
    args.ignoreUnrecognized = JNI_FALSE;
    JNIEnv *mainEnv = nullptr;
    if (JNI_CreateJavaVM(&theVm, reinterpret_cast<void **>(&mainEnv), &args) != JNI_OK) {
        std::fprintf(stderr, "cannot start the Java VM\n");
        std::exit(2);
    }
}

namespace {

jfieldID field(jobject obj, const char *name, const char *signature) {
    JNIEnv *e = env();
    jclass cls = e->GetObjectClass(obj);
    jfieldID id = e->GetFieldID(cls, name, signature);
    e->DeleteLocalRef(cls);
    if (id == nullptr) {
        e->ExceptionClear();
        ADD_FAILURE() << "no field " << name << " " << signature;
        std::abort();
    }
    return id;
}

jmethodID method(jobject obj, const char *name, const char *signature) {
    JNIEnv *e = env();
    jclass cls = e->GetObjectClass(obj);
    jmethodID id = e->GetMethodID(cls, name, signature);
    e->DeleteLocalRef(cls);
    if (id == nullptr) {
        e->ExceptionClear();
        std::fprintf(stderr, "no method %s%s\n", name, signature);
        std::abort();
    }
    return id;
}

} // namespace

JavaVM *vm() { return theVm; }

JNIEnv *env() {
    JNIEnv *e = nullptr;
    if (theVm->GetEnv(reinterpret_cast<void **>(&e), JNI_VERSION_1_8) == JNI_EDETACHED) {
        theVm->AttachCurrentThread(reinterpret_cast<void **>(&e), nullptr);
    }
    return e;
}

void loadLibrary(const char *path) {
    JNIEnv *e = env();
    jclass system = e->FindClass("com/zanvor/kelvra/testsupport/NativeLoader");
    if (system == nullptr) {
        e->ExceptionDescribe();
        std::exit(2);
    }
    jmethodID load = e->GetStaticMethodID(system, "load", "(Ljava/lang/String;)V");
    jstring name = e->NewStringUTF(path);
    e->CallStaticVoidMethod(system, load, name);
    if (e->ExceptionCheck()) {
        e->ExceptionDescribe();
        std::fprintf(stderr, "cannot load %s\n", path);
        std::exit(2);
    }
    e->DeleteLocalRef(name);
    e->DeleteLocalRef(system);
}

std::string takeVmReports() {
    std::lock_guard<std::mutex> lock(reportsMutex);
    std::string taken;
    taken.swap(reports);
    return taken;
}

jclass findClass(const char *className) {
    jclass cls = env()->FindClass(className);
    if (cls == nullptr) {
        env()->ExceptionDescribe();
        std::fprintf(stderr, "no class %s\n", className);
        std::abort();
    }
    return cls;
}

jobject newObject(const char *className) {
    JNIEnv *e = env();
    jclass cls = findClass(className);
    jmethodID ctor = e->GetMethodID(cls, "<init>", "()V");
    jobject obj = e->NewObject(cls, ctor);
    e->DeleteLocalRef(cls);
    return obj;
}

jint getInt(jobject obj, const char *f) { return env()->GetIntField(obj, field(obj, f, "I")); }
void setInt(jobject obj, const char *f, jint v) { env()->SetIntField(obj, field(obj, f, "I"), v); }
jboolean getBoolean(jobject obj, const char *f) { return env()->GetBooleanField(obj, field(obj, f, "Z")); }
void setBoolean(jobject obj, const char *f, jboolean v) { env()->SetBooleanField(obj, field(obj, f, "Z"), v); }
jchar getChar(jobject obj, const char *f) { return env()->GetCharField(obj, field(obj, f, "C")); }
void setChar(jobject obj, const char *f, jchar v) { env()->SetCharField(obj, field(obj, f, "C"), v); }
jdouble getDouble(jobject obj, const char *f) { return env()->GetDoubleField(obj, field(obj, f, "D")); }
void setDouble(jobject obj, const char *f, jdouble v) { env()->SetDoubleField(obj, field(obj, f, "D"), v); }
jobject getObject(jobject obj, const char *f, const char *sig) { return env()->GetObjectField(obj, field(obj, f, sig)); }
void setObject(jobject obj, const char *f, const char *sig, jobject v) {
    env()->SetObjectField(obj, field(obj, f, sig), v);
}

void setChars(jobject obj, const char *f, const std::vector<jchar> &chars) {
    JNIEnv *e = env();
    jcharArray array = e->NewCharArray(static_cast<jsize>(chars.size()));
    e->SetCharArrayRegion(array, 0, static_cast<jsize>(chars.size()), chars.data());
    e->SetObjectField(obj, field(obj, f, "[C"), array);
    e->DeleteLocalRef(array);
}

void setCharsNull(jobject obj, const char *f) { env()->SetObjectField(obj, field(obj, f, "[C"), nullptr); }

bool charsIsNull(jobject obj, const char *f) {
    jobject array = getObject(obj, f, "[C");
    bool isNull = array == nullptr;
    env()->DeleteLocalRef(array);
    return isNull;
}

std::vector<jchar> getChars(jobject obj, const char *f) {
    JNIEnv *e = env();
    auto array = static_cast<jcharArray>(getObject(obj, f, "[C"));
    std::vector<jchar> chars;
    if (array == nullptr) return chars;
    chars.resize(static_cast<std::size_t>(e->GetArrayLength(array)));
    e->GetCharArrayRegion(array, 0, static_cast<jsize>(chars.size()), chars.data());
    e->DeleteLocalRef(array);
    return chars;
}

std::vector<jchar> chars(const std::string &text, std::size_t size) {
    std::vector<jchar> result(text.size() > size ? text.size() : size, 0);
    for (std::size_t i = 0; i < text.size(); ++i) result[i] = static_cast<unsigned char>(text[i]);
    return result;
}

jint callInt(jobject obj, const char *name, const char *signature, ...) {
    va_list args;
    va_start(args, signature);
    jint result = env()->CallIntMethodV(obj, method(obj, name, signature), args);
    env()->ExceptionCheck(); // the caller inspects it with takeException
    va_end(args);
    return result;
}

void callVoid(jobject obj, const char *name, const char *signature, ...) {
    va_list args;
    va_start(args, signature);
    env()->CallVoidMethodV(obj, method(obj, name, signature), args);
    env()->ExceptionCheck(); // the caller inspects it with takeException
    va_end(args);
}

jobject callObject(jobject obj, const char *name, const char *signature, ...) {
    va_list args;
    va_start(args, signature);
    jobject result = env()->CallObjectMethodV(obj, method(obj, name, signature), args);
    env()->ExceptionCheck(); // the caller inspects it with takeException
    va_end(args);
    return result;
}

std::string takeException() {
    JNIEnv *e = env();
    if (!e->ExceptionCheck()) return "";
    jthrowable thrown = e->ExceptionOccurred();
    e->ExceptionClear();
    jclass cls = e->GetObjectClass(thrown);
    jclass classClass = e->FindClass("java/lang/Class");
    jmethodID getName = e->GetMethodID(classClass, "getName", "()Ljava/lang/String;");
    auto name = static_cast<jstring>(e->CallObjectMethod(cls, getName));
    e->ExceptionCheck();
    const char *utf = e->GetStringUTFChars(name, nullptr);
    std::string result = utf;
    e->ReleaseStringUTFChars(name, utf);
    e->DeleteLocalRef(name);
    e->DeleteLocalRef(classClass);
    e->DeleteLocalRef(cls);
    e->DeleteLocalRef(thrown);
    return result;
}

StdoutCapture::StdoutCapture() {
    std::fflush(stdout);
    char path[] = "/tmp/jvmtest-stdout-XXXXXX";
    int fd = mkstemp(path);
    path_ = path;
    saved_ = dup(1);
    dup2(fd, 1);
    close(fd);
}

std::string StdoutCapture::finish() {
    if (done_) return "";
    done_ = true;
    std::fflush(stdout);
    dup2(saved_, 1);
    close(saved_);
    std::ifstream in(path_);
    std::stringstream text;
    text << in.rdbuf();
    unlink(path_.c_str());
    return text.str();
}

StdoutCapture::~StdoutCapture() { finish(); }

} // namespace jvmtest

void JvmTest::SetUp() {
    jvmtest::takeVmReports();
    ASSERT_EQ(env()->PushLocalFrame(512), 0);
}

void JvmTest::TearDown() {
    std::string pending = jvmtest::takeException();
    EXPECT_EQ(pending, "") << "a Java exception was left pending by the test";
    env()->PopLocalFrame(nullptr);
    std::string reported = jvmtest::takeVmReports();
    EXPECT_EQ(reported.find("WARNING"), std::string::npos) << "the VM reported:\n" << reported;
    EXPECT_EQ(reported.find("FATAL"), std::string::npos) << "the VM reported:\n" << reported;
}

