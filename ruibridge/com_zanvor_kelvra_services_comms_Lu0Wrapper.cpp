#include "com_zanvor_kelvra_services_comms_Lu0Wrapper.h"

#include <cmath>
#include <cstdio>
#include <new>

namespace {

// Reads a boolean into a bit field of the given width.
unsigned bits(JNIEnv *env, jobject obj, const char *field, unsigned mask) {
    return static_cast<unsigned>(myGetBooleanField(env, obj, field)) & mask;
}

void setBit(JNIEnv *env, jobject obj, const char *field, unsigned value) {
    mySetBooleanField(env, obj, field, static_cast<jboolean>(value != 0));
}

const char *const kSubObjectNames[] = {"rh", "th", "flag1", "flag2"};
const char *const kSubObjectSignatures[] = {
    "Lcom/zanvor/kelvra/services/comms/LuaRH;",
    "Lcom/zanvor/kelvra/services/comms/LuaTH;",
    "Lcom/zanvor/kelvra/services/comms/LuaFlag1;",
    "Lcom/zanvor/kelvra/services/comms/LuaFlag2;",
};

} // namespace

MY_HANDLE_WAITING myCreateEvent(MY_HANDLE_HEV *hev) {
    *hev = nullptr;
    *hev = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    return GetLastError();
}

MY_HANDLE_WAITING myWaitEvent(MY_HANDLE_WAITING hev) {
    return WaitForSingleObject(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(hev)), INFINITE);
}

MY_HANDLE_WAITING myDestroyEvent(MY_HANDLE_HEV *hev) {
    CloseHandle(*hev);
    return GetLastError();
}

uint32_t doubleToRecord32(jdouble value) {
    // The low 32 bits of the value truncated toward zero, computed without leaving the
    // range of a double (NaN and infinities carry no integer and become 0).
    if (!std::isfinite(value)) return 0;
    double low = std::fmod(std::trunc(value), 4294967296.0);
    if (low < 0) low += 4294967296.0;
    return static_cast<uint32_t>(low);
}

uint16_t intToRecord16(jint value) { return static_cast<uint16_t>(static_cast<uint32_t>(value) & 0xFFFFu); }

MY_LUA_FLAG1 get_struct_lua_flag1(JNIEnv *env, jobject flag1) {
    MY_LUA_FLAG1 f{};
    f.lu_norm = bits(env, flag1, "lu_norm", 1) & 1;
    f.lu_exp = bits(env, flag1, "lu_exp", 1) & 1;
    f.sscp_norm = bits(env, flag1, "sscp_norm", 1) & 1;
    f.sscp_exp = bits(env, flag1, "sscp_exp", 1) & 1;
    f.nowait = bits(env, flag1, "nowait", 1) & 1;
    f.close_abend = bits(env, flag1, "close_abend", 1) & 1;
    f.bid_enable = bits(env, flag1, "bid_enable", 1) & 1;
    return f;
}

MY_LUA_TH get_struct_lua_th(JNIEnv *env, jobject th) {
    MY_LUA_TH t{};
    t.flags_efi = bits(env, th, "flags_efi", 1) & 1;
    t.flags_odai = bits(env, th, "flags_odai", 1) & 1;
    t.flags_mpf = bits(env, th, "flags_mpf", 3) & 3;
    t.flags_fid = bits(env, th, "flags_fid", 0xF) & 0xF;
    t.daf = static_cast<unsigned char>(myGetCharField(env, th, "daf") & 0xFF);
    t.oaf = static_cast<unsigned char>(myGetCharField(env, th, "oaf") & 0xFF);
    myGetCharArray(env, th, "snf", t.snf, sizeof t.snf);
    return t;
}

MY_LUA_RH get_struct_lua_rh(JNIEnv *env, jobject rh) {
    MY_LUA_RH r{};
    r.rri = bits(env, rh, "rri", 1) & 1;
    r.fi = bits(env, rh, "fi", 1) & 1;
    r.sdi = bits(env, rh, "sdi", 1) & 1;
    r.bci = bits(env, rh, "bci", 1) & 1;
    r.eci = bits(env, rh, "eci", 1) & 1;
    r.dr1i = bits(env, rh, "dr1i", 1) & 1;
    r.dr2i = bits(env, rh, "dr2i", 1) & 1;
    r.ri = bits(env, rh, "ri", 1) & 1;
    r.qri = bits(env, rh, "qri", 1) & 1;
    r.pi = bits(env, rh, "pi", 1) & 1;
    r.bbi = bits(env, rh, "bbi", 1) & 1;
    r.ebi = bits(env, rh, "ebi", 1) & 1;
    r.cdi = bits(env, rh, "cdi", 1) & 1;
    r.csi = bits(env, rh, "csi", 1) & 1;
    r.edi = bits(env, rh, "edi", 1) & 1;
    r.pdi = bits(env, rh, "pdi", 1) & 1;
    r.ruc = myGetCharField(env, rh, "ruc") & 3;
    return r;
}

void set_struct_lua_flag2(JNIEnv *env, jobject flag2, LUA_FLAG2 value) {
    setBit(env, flag2, "lu_norm", value.lu_norm);
    setBit(env, flag2, "lu_exp", value.lu_exp);
    setBit(env, flag2, "sscp_norm", value.sscp_norm);
    setBit(env, flag2, "sscp_exp", value.sscp_exp);
    setBit(env, flag2, "async", value.async);
    setBit(env, flag2, "bid_enable", value.bid_enable);
}

void set_struct_lua_th(JNIEnv *env, jobject th, LUA_TH value) {
    setBit(env, th, "flags_efi", value.flags_efi);
    setBit(env, th, "flags_odai", value.flags_odai);
    setBit(env, th, "flags_mpf", value.flags_mpf);
    setBit(env, th, "flags_fid", value.flags_fid);
    mySetCharField(env, th, "daf", value.daf);
    mySetCharField(env, th, "oaf", value.oaf);
    mySetCharArray(env, th, "snf", 2, value.snf);
}

void set_struct_lua_rh(JNIEnv *env, jobject rh, LUA_RH value) {
    setBit(env, rh, "rri", value.rri);
    setBit(env, rh, "fi", value.fi);
    setBit(env, rh, "sdi", value.sdi);
    setBit(env, rh, "bci", value.bci);
    setBit(env, rh, "eci", value.eci);
    setBit(env, rh, "dr1i", value.dr1i);
    setBit(env, rh, "dr2i", value.dr2i);
    setBit(env, rh, "ri", value.ri);
    setBit(env, rh, "qri", value.qri);
    setBit(env, rh, "pi", value.pi);
    setBit(env, rh, "bbi", value.bbi);
    setBit(env, rh, "ebi", value.ebi);
    setBit(env, rh, "cdi", value.cdi);
    setBit(env, rh, "csi", value.csi);
    setBit(env, rh, "edi", value.edi);
    setBit(env, rh, "pdi", value.pdi);
    mySetCharField(env, rh, "ruc", static_cast<jchar>(value.ruc));
}

bool fetchSubObjects(JNIEnv *env, jobject common, unsigned needs, SubObjects &out) {
    jobject *slots[] = {&out.rh, &out.th, &out.flag1, &out.flag2};
    for (unsigned i = 0; i < 4; ++i) {
        if ((needs & (1u << i)) == 0) continue;
        jobject sub = myGetObjectField(env, common, kSubObjectNames[i], kSubObjectSignatures[i]);
        if (sub == nullptr) {
            // A missing field has already raised NoSuchFieldError naming it; a null one is
            // reported here. Either way no verb is issued.
            char message[64];
            std::snprintf(message, sizeof message, "common_obj.%s is null", kSubObjectNames[i]);
            NativeCallScope::raise(env, "java/lang/NullPointerException", message);
            return false;
        }
        *slots[i] = sub;
    }
    return true;
}

VerbCall::VerbCall(JNIEnv *env, uint16_t opcode, uint16_t verbLength)
    : env_(env), state_(new (std::nothrow) State) {
    if (state_ == nullptr) {
        NativeCallScope::raise(env, "java/lang/OutOfMemoryError", "no memory for the verb record");
        return;
    }
    MY_HANDLE_WAITING error = myCreateEvent(&event_);
    if (event_ == nullptr) {
        char message[96];
        std::snprintf(message, sizeof message, "cannot create the completion event (error %lu)",
                      static_cast<unsigned long>(error));
        NativeCallScope::raise(env, "java/lang/IllegalStateException", message);
        return;
    }
    LUA_COMMON &c = state_->record.common;
    c.lua_verb = LUA_VERB_RUI;
    c.lua_verb_length = verbLength;
    c.lua_opcode = opcode;
    c.lua_post_handle = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(event_));
}

VerbCall::~VerbCall() {
    if (event_ != nullptr) myDestroyEvent(&event_);
    delete state_;
}

bool VerbCall::allocateData(std::size_t length) {
    // A zero length still gets a buffer of its own, so the stack sees a valid address.
    state_->data.reset(new (std::nothrow) unsigned char[length == 0 ? 1 : length]());
    if (!state_->data) {
        NativeCallScope::raise(env_, "java/lang/OutOfMemoryError", "no memory for the data buffer");
        return false;
    }
    state_->record.common.lua_data_ptr = state_->data.get();
    return true;
}

bool VerbCall::issue() {
    RUI(&state_->record);
    if (!state_->record.common.lua_flag2.async) return true;
    MY_HANDLE_WAITING result = myWaitEvent(state_->record.common.lua_post_handle);
    if (result == WAIT_OBJECT_0) return true;
    // The stack may still complete the verb: leave it the record, the buffer and the event.
    DWORD error = GetLastError();
    state_ = nullptr;
    event_ = nullptr;
    char message[128];
    std::snprintf(message, sizeof message, "waiting for the verb's completion failed (result %lu, error %lu)",
                  static_cast<unsigned long>(result), static_cast<unsigned long>(error));
    NativeCallScope::raise(env_, "java/lang/IllegalStateException", message);
    return false;
}
