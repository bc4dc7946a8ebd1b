// Natives of Lu0SnaSession: each issues one RUI verb, waits for its completion and reports
// through the fields of the request object.
#include <jni.h>

#include <cstring>

#include "com_zanvor_kelvra_services_comms_Lu0Wrapper.h"

namespace {

constexpr std::size_t kLuNameSize = 8;

// The request object and the sub-objects the verb needs must all be there before anything is
// issued; a missing one raises a Java exception naming it.
bool prepareRequest(JNIEnv *env, jobject common, unsigned needs, SubObjects &subs) {
    if (common == nullptr) {
        NativeCallScope::raise(env, "java/lang/NullPointerException", "common_obj is null");
        return false;
    }
    return fetchSubObjects(env, common, needs, subs);
}

void writePrimary(JNIEnv *env, jobject common, const LUA_COMMON &c) {
    mySetIntField(env, common, "lua_prim_rc", c.lua_prim_rc);
}

void writeSecondary(JNIEnv *env, jobject common, const LUA_COMMON &c) {
    mySetDoubleField(env, common, "lua_sec_rc", static_cast<jdouble>(c.lua_sec_rc));
}

// A failed data verb also reports which verb failed.
void writeDataFailure(JNIEnv *env, jobject common, const LUA_COMMON &c) {
    writeSecondary(env, common, c);
    mySetIntField(env, common, "lua_opcode", c.lua_opcode);
}

// Bid and write return the headers and flags in this order (the read has its own).
void writeHeaders(JNIEnv *env, const SubObjects &subs, const LUA_COMMON &c) {
    set_struct_lua_rh(env, subs.rh, c.lua_rh);
    set_struct_lua_th(env, subs.th, c.lua_th);
    set_struct_lua_flag2(env, subs.flag2, c.lua_flag2);
}

std::size_t nameLength(const unsigned char *name) {
    std::size_t n = 0;
    while (n < kLuNameSize && name[n] != 0) ++n;
    return n;
}

} // namespace

extern "C" {

JNIEXPORT void JNICALL Java_com_zanvor_kelvra_services_comms_Lu0SnaSession_RUI_1init(JNIEnv *env, jobject,
                                                                                      jobject common_obj) {
    NativeCallScope scope(env);
    SubObjects none;
    if (!prepareRequest(env, common_obj, 0, none)) return;
    VerbCall LuaInit(env, LUA_OPCODE_RUI_INIT, LUA_COMMON_LENGTH);
    if (!LuaInit.ready()) return;
    LUA_COMMON &c = LuaInit.common();
    myGetCharArray(env, common_obj, "lua_luname", c.lua_luname, kLuNameSize);
    // The name ends at its first zero byte; blanks fill the field to 8 bytes.
    for (std::size_t strCnt = nameLength(c.lua_luname); strCnt < kLuNameSize; ++strCnt) c.lua_luname[strCnt] = ' ';
    if (!LuaInit.issue()) return;
    writePrimary(env, common_obj, c);
    if (c.lua_prim_rc == LUA_OK) {
        mySetDoubleField(env, common_obj, "lua_sid", static_cast<jdouble>(c.lua_sid));
        mySetCharArray(env, common_obj, "lua_luname", static_cast<jsize>(nameLength(c.lua_luname)), c.lua_luname);
    } else {
        writeSecondary(env, common_obj, c);
    }
}

JNIEXPORT void JNICALL Java_com_zanvor_kelvra_services_comms_Lu0SnaSession_RUI_1bid(JNIEnv *env, jobject,
                                                                                     jobject common_obj) {
    NativeCallScope scope(env);
    SubObjects subs;
    if (!prepareRequest(env, common_obj, kNeedRh | kNeedTh | kNeedFlag2, subs)) return;
    VerbCall LuaBid(env, LUA_OPCODE_RUI_BID, LUA_BID_LENGTH);
    if (!LuaBid.ready()) return;
    LUA_COMMON &c = LuaBid.common();
    c.lua_sid = doubleToRecord32(myGetDoubleField(env, common_obj, "lua_sid"));
    if (!LuaBid.issue()) return;
    writePrimary(env, common_obj, c);
    if (c.lua_prim_rc == LUA_OK) {
        mySetDoubleField(env, common_obj, "lua_sid", static_cast<jdouble>(c.lua_sid));
        mySetIntField(env, common_obj, "lua_max_length", c.lua_max_length);
        mySetIntField(env, common_obj, "lua_data_length", c.lua_data_length);
        mySetCharField(env, common_obj, "lua_message_type", c.lua_message_type);
        writeHeaders(env, subs, c);
    } else {
        writeSecondary(env, common_obj, c);
    }
}

JNIEXPORT void JNICALL Java_com_zanvor_kelvra_services_comms_Lu0SnaSession_RUI_1write(JNIEnv *env, jobject,
                                                                                       jobject common_obj) {
    NativeCallScope scope(env);
    SubObjects subs;
    if (!prepareRequest(env, common_obj, kNeedRh | kNeedTh | kNeedFlag1 | kNeedFlag2, subs)) return;
    VerbCall LuaWrite(env, LUA_OPCODE_RUI_WRITE, LUA_COMMON_LENGTH);
    if (!LuaWrite.ready()) return;
    LUA_COMMON &c = LuaWrite.common();
    c.lua_sid = doubleToRecord32(myGetDoubleField(env, common_obj, "lua_sid"));
    c.lua_data_length = intToRecord16(myGetIntField(env, common_obj, "lua_data_length"));
    c.lua_max_length = intToRecord16(myGetIntField(env, common_obj, "lua_max_length"));
    c.lua_rh = get_struct_lua_rh(env, subs.rh);
    c.lua_th = get_struct_lua_th(env, subs.th);
    c.lua_flag1 = get_struct_lua_flag1(env, subs.flag1);
    if (c.lua_data_length != 0) {
        if (!LuaWrite.allocateData(c.lua_data_length)) return;
        // Elements beyond lua_data_length do not fit the buffer and are not sent.
        myGetCharArray(env, common_obj, "lua_data_ptr", LuaWrite.data(), c.lua_data_length);
    }
    if (!LuaWrite.issue()) return;
    writePrimary(env, common_obj, c);
    if (c.lua_prim_rc == LUA_OK) {
        mySetDoubleField(env, common_obj, "lua_sid", static_cast<jdouble>(c.lua_sid));
        writeHeaders(env, subs, c);
    } else {
        writeDataFailure(env, common_obj, c);
    }
}

JNIEXPORT void JNICALL Java_com_zanvor_kelvra_services_comms_Lu0SnaSession_RUI_1read(JNIEnv *env, jobject,
                                                                                      jobject common_obj) {
    NativeCallScope scope(env);
    SubObjects subs;
    if (!prepareRequest(env, common_obj, kNeedRh | kNeedTh | kNeedFlag1 | kNeedFlag2, subs)) return;
    VerbCall LuaRead(env, LUA_OPCODE_RUI_READ, LUA_COMMON_LENGTH);
    if (!LuaRead.ready()) return;
    LUA_COMMON &c = LuaRead.common();
    c.lua_sid = doubleToRecord32(myGetDoubleField(env, common_obj, "lua_sid"));
    c.lua_flag1 = get_struct_lua_flag1(env, subs.flag1);
    c.lua_max_length = intToRecord16(myGetIntField(env, common_obj, "lua_max_length"));
    const uint16_t capacity = c.lua_max_length;
    if (!LuaRead.allocateData(capacity)) return;
    if (!LuaRead.issue()) return;
    writePrimary(env, common_obj, c);
    if (c.lua_prim_rc == LUA_OK) {
        set_struct_lua_th(env, subs.th, c.lua_th);
        set_struct_lua_rh(env, subs.rh, c.lua_rh);
        set_struct_lua_flag2(env, subs.flag2, c.lua_flag2);
        // Never more than the buffer holds, whatever length the stack reports.
        const uint16_t delivered = c.lua_data_length < capacity ? c.lua_data_length : capacity;
        mySetIntField(env, common_obj, "lua_data_length", delivered);
        mySetCharArray(env, common_obj, "lua_data_ptr", delivered, LuaRead.data());
    } else {
        writeDataFailure(env, common_obj, c);
    }
}

JNIEXPORT void JNICALL Java_com_zanvor_kelvra_services_comms_Lu0SnaSession_RUI_1term(JNIEnv *env, jobject,
                                                                                      jobject common_obj) {
    NativeCallScope scope(env);
    SubObjects none;
    if (!prepareRequest(env, common_obj, 0, none)) return;
    VerbCall LuaTerm(env, LUA_OPCODE_RUI_TERM, LUA_COMMON_LENGTH);
    if (!LuaTerm.ready()) return;
    LUA_COMMON &c = LuaTerm.common();
    c.lua_sid = doubleToRecord32(myGetDoubleField(env, common_obj, "lua_sid"));
    if (!LuaTerm.issue()) return;
    writePrimary(env, common_obj, c);
    writeSecondary(env, common_obj, c);
}

} // extern "C"
