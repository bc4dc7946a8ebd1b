// Test harness: one embedded Java VM per test executable, started with -Xcheck:jni and the
// project's classes on its class path. Natives are reached the way Java reaches them.
#ifndef TESTS_JVM_TEST_H
#define TESTS_JVM_TEST_H

#include <gtest/gtest.h>
#include <jni.h>

#include <string>
#include <vector>

namespace jvmtest {

void startVm(); // once, before any test
JavaVM *vm();
JNIEnv *env(); // the calling thread's environment (attached on first use)

// Loads a native library into the VM with System.load.
void loadLibrary(const char *path);

// Everything the VM reported through its vfprintf hook since the last call.
std::string takeVmReports();

// Small conveniences on top of JNI for tests. Lookups that fail end the test.
jobject newObject(const char *className);
jclass findClass(const char *className);

jint getInt(jobject obj, const char *field);
void setInt(jobject obj, const char *field, jint value);
jboolean getBoolean(jobject obj, const char *field);
void setBoolean(jobject obj, const char *field, jboolean value);
jchar getChar(jobject obj, const char *field);
void setChar(jobject obj, const char *field, jchar value);
jdouble getDouble(jobject obj, const char *field);
void setDouble(jobject obj, const char *field, jdouble value);
jobject getObject(jobject obj, const char *field, const char *signature);
void setObject(jobject obj, const char *field, const char *signature, jobject value);

// char[] fields as vectors of chars; a null field reads as an empty optional-like flag.
void setChars(jobject obj, const char *field, const std::vector<jchar> &chars);
void setCharsNull(jobject obj, const char *field);
std::vector<jchar> getChars(jobject obj, const char *field); // empty and isNull true for null
bool charsIsNull(jobject obj, const char *field);
std::vector<jchar> chars(const std::string &text, std::size_t size = 0); // zero-padded to size

// Calls an instance method and returns its int result (or void).
jint callInt(jobject obj, const char *method, const char *signature, ...);
void callVoid(jobject obj, const char *method, const char *signature, ...);
jobject callObject(jobject obj, const char *method, const char *signature, ...);

// The class name of the pending exception ("" when none), cleared afterwards.
std::string takeException();

// Captures what native code writes to standard output (file descriptor 1).
class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture();
    std::string finish();

private:
    int saved_ = -1;
    std::string path_;
    bool done_ = false;
};

} // namespace jvmtest

// Base fixture: every test runs in its own local frame, and fails if the VM reported any JNI
// warning or error while it ran, or if it left a Java exception pending.
class JvmTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    JNIEnv *env() const { return jvmtest::env(); }
};

#endif
