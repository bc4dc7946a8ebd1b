package com.zanvor.kelvra.services.comms;

/** Flags supplied with an RUI verb. */
public class LuaFlag1 {
    public boolean lu_norm;
    public boolean lu_exp;
    public boolean sscp_norm;
    public boolean sscp_exp;
    /** A read completes at once when no data is waiting. */
    public boolean nowait;
    public boolean close_abend;
    public boolean bid_enable;
}
