package com.zanvor.kelvra.services.comms;

/**
 * LU type 0 sessions through the RUI verbs. Each native issues one verb, waits for its
 * completion and reports through the fields of the request object (lua_prim_rc, lua_sec_rc
 * and the verb's results). Load the native library "ruibridge" before use.
 */
public class Lu0SnaSession {
    public native void RUI_init(Object common_obj);
    public native void RUI_bid(Object common_obj);
    public native void RUI_write(Object common_obj);
    public native void RUI_read(Object common_obj);
    public native void RUI_term(Object common_obj);
}
