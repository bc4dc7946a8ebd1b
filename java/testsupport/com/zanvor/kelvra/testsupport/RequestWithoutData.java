package com.zanvor.kelvra.testsupport;

import com.zanvor.kelvra.services.comms.LuaFlag1;
import com.zanvor.kelvra.services.comms.LuaFlag2;
import com.zanvor.kelvra.services.comms.LuaRH;
import com.zanvor.kelvra.services.comms.LuaTH;

/** A request object without lua_data_ptr: any attempt to read the data field shows. */
public class RequestWithoutData {
    public int lua_prim_rc;
    public double lua_sec_rc;
    public double lua_sid;
    public int lua_max_length;
    public int lua_data_length;
    public int lua_opcode;
    public LuaRH rh = new LuaRH();
    public LuaTH th = new LuaTH();
    public LuaFlag1 flag1 = new LuaFlag1();
    public LuaFlag2 flag2 = new LuaFlag2();
}
