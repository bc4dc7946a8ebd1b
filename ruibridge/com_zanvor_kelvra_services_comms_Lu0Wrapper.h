// Record converters, completion events and the verb cycle shared by the Lu0SnaSession natives.
#ifndef RUIBRIDGE_LU0WRAPPER_H
#define RUIBRIDGE_LU0WRAPPER_H

#include <jni.h>

#include <cstdint>
#include <memory>

#include "jni_fields.h"
#include "lua.h"
#include "win32api.h"

typedef LUA_FLAG1 MY_LUA_FLAG1;
typedef LUA_TH MY_LUA_TH;
typedef LUA_RH MY_LUA_RH;

typedef HANDLE MY_HANDLE_HEV;
typedef uint32_t MY_HANDLE_WAITING;

// Event operations: results are the thread's last-error code (create, destroy) or the wait's result.
MY_HANDLE_WAITING myCreateEvent(MY_HANDLE_HEV *hev);
MY_HANDLE_WAITING myWaitEvent(MY_HANDLE_WAITING hev);
MY_HANDLE_WAITING myDestroyEvent(MY_HANDLE_HEV *hev);

// Java sub-objects to record structures.
MY_LUA_FLAG1 get_struct_lua_flag1(JNIEnv *env, jobject flag1);
MY_LUA_TH get_struct_lua_th(JNIEnv *env, jobject th);
MY_LUA_RH get_struct_lua_rh(JNIEnv *env, jobject rh);

// Record structures to Java sub-objects.
void set_struct_lua_flag2(JNIEnv *env, jobject flag2, LUA_FLAG2 value);
void set_struct_lua_th(JNIEnv *env, jobject th, LUA_TH value);
void set_struct_lua_rh(JNIEnv *env, jobject rh, LUA_RH value);

// Width conversions between Java fields and record fields.
uint32_t doubleToRecord32(jdouble value); // truncated toward zero, low 32 bits
uint16_t intToRecord16(jint value);        // low 16 bits

// The sub-objects a verb needs, fetched before it is issued. A null or missing one raises a
// Java exception naming the field, and the verb is not issued.
struct SubObjects {
    jobject rh = nullptr;
    jobject th = nullptr;
    jobject flag1 = nullptr;
    jobject flag2 = nullptr;
};
enum SubObjectNeed : unsigned { kNeedRh = 1, kNeedTh = 2, kNeedFlag1 = 4, kNeedFlag2 = 8 };
bool fetchSubObjects(JNIEnv *env, jobject common, unsigned needs, SubObjects &out);

// One verb from creation of its completion event to its release. The record and the data
// buffer live on the heap so that, if the wait for completion fails, they can be left to the
// stack (which may still write into them) instead of being released under it.
class VerbCall {
public:
    VerbCall(JNIEnv *env, uint16_t opcode, uint16_t verbLength);
    ~VerbCall();
    VerbCall(const VerbCall &) = delete;
    VerbCall &operator=(const VerbCall &) = delete;

    // False (with a Java exception raised) if the completion event could not be created.
    bool ready() const { return state_ != nullptr && event_ != nullptr; }
    LUA_COMMON &common() { return state_->record.common; }
    // Allocates the zero-filled data buffer and points lua_data_ptr at it.
    bool allocateData(std::size_t length);
    unsigned char *data() { return state_->data.get(); }
    // Issues the verb and waits for its completion when it finishes later. False (with a Java
    // exception raised) if the wait failed: the record then stays with the stack.
    bool issue();

private:
    struct State {
        LUA_VERB_RECORD record{};
        std::unique_ptr<unsigned char[]> data;
    };
    JNIEnv *env_;
    State *state_;
    MY_HANDLE_HEV event_ = nullptr;
};

#endif
