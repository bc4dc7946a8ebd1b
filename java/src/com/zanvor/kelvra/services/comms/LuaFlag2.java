package com.zanvor.kelvra.services.comms;

/** Flags returned with an RUI verb. */
public class LuaFlag2 {
    public boolean lu_norm;
    public boolean lu_exp;
    public boolean sscp_norm;
    public boolean sscp_exp;
    /** The verb completed after RUI returned. */
    public boolean async;
    public boolean bid_enable;
}
