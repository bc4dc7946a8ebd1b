// Field access helpers through which the SNA bridges exchange all their data with Java.
// One source serves both bridges; BRIDGE_CPIC selects the conversation bridge's variant
// (lookups through 50-byte name buffers, and a report of a failed char-array write).
#ifndef COMMON_JNI_FIELDS_H
#define COMMON_JNI_FIELDS_H

#include <jni.h>

#include <cstddef>

// Holds the first Java exception raised during one native call so that no JNI call is ever
// made with an exception pending, and throws it again when the native returns: the caller
// still sees the exception that the failed lookup raised. One per native, on its stack.
class NativeCallScope {
public:
    explicit NativeCallScope(JNIEnv *env);
    ~NativeCallScope();
    NativeCallScope(const NativeCallScope &) = delete;
    NativeCallScope &operator=(const NativeCallScope &) = delete;

    // Takes a pending exception out of the way; true if there was one.
    static bool absorb(JNIEnv *env);
    // Raises a new exception of the named class, held like any other.
    static void raise(JNIEnv *env, const char *className, const char *message);

private:
    JNIEnv *env_;
    jthrowable held_ = nullptr;
    NativeCallScope *outer_;
};

jboolean myGetBooleanField(JNIEnv *env, jobject obj, const char *fieldName);
jint myGetIntField(JNIEnv *env, jobject obj, const char *fieldName);
jchar myGetCharField(JNIEnv *env, jobject obj, const char *fieldName);
jdouble myGetDoubleField(JNIEnv *env, jobject obj, const char *fieldName);

// Booleans are stored as JNI_TRUE for any non-zero target: the VM keeps only the low bit.
void mySetBooleanField(JNIEnv *env, jobject obj, const char *fieldName, jboolean target);
void mySetIntField(JNIEnv *env, jobject obj, const char *fieldName, jint target);
void mySetCharField(JNIEnv *env, jobject obj, const char *fieldName, jchar target);
void mySetDoubleField(JNIEnv *env, jobject obj, const char *fieldName, jdouble target);

// Copies the low byte of each element of a char[] field into target; elements beyond
// capacity are not copied. A missing or null field leaves target untouched.
void myGetCharArray(JNIEnv *env, jobject obj, const char *fieldName, unsigned char *target,
                    std::size_t capacity);

// Writes end bytes, each widened without sign, into elements 0..end-1 of the char[] field.
void mySetCharArray(JNIEnv *env, jobject obj, const char *fieldName, jsize end,
                    const unsigned char *target);

// The field lookup: null when the object is null or its class has no such field.
jfieldID myGetFieldID(JNIEnv *env, jobject obj, const char *fieldName, const char *signature);
// An object-valued field (char[] or a sub-object); null when the lookup fails or the field
// holds null. The caller owns the returned local reference.
jobject myGetObjectField(JNIEnv *env, jobject obj, const char *fieldName, const char *signature);

#endif
