package com.zanvor.kelvra.services.comms;

/** The request object every Lu0SnaSession native reads and writes. */
public class LuaRequest {
    /** LU name, up to 8 chars; padded with blanks by RUI_init. */
    public char[] lua_luname = new char[8];
    public int lua_prim_rc;
    public double lua_sec_rc;
    /** Session identifier (32-bit unsigned, carried as a double). */
    public double lua_sid;
    public int lua_max_length;
    public int lua_data_length;
    public char lua_message_type;
    public int lua_opcode;
    /** Data, one byte per char. */
    public char[] lua_data_ptr;
    public LuaRH rh = new LuaRH();
    public LuaTH th = new LuaTH();
    public LuaFlag1 flag1 = new LuaFlag1();
    public LuaFlag2 flag2 = new LuaFlag2();

    public LuaRequest() {
    }

    /** A request naming an LU, for RUI_init. */
    public static LuaRequest forLu(String luName) {
        LuaRequest r = new LuaRequest();
        r.lua_luname = Lu62Message.toChars(luName, 8);
        return r;
    }

    /** The first lua_data_length chars of lua_data_ptr as text. */
    public String dataText() {
        if (lua_data_ptr == null) {
            return "";
        }
        return new String(lua_data_ptr, 0, Math.min(lua_data_length, lua_data_ptr.length));
    }
}
