package com.zanvor.kelvra.services.comms;

/** Request/response header: sixteen one-bit indicators and the 2-bit ruc. */
public class LuaRH {
    public boolean eci;
    public boolean bci;
    public boolean sdi;
    public boolean fi;
    public char ruc;
    public boolean rri;
    public boolean pi;
    public boolean qri;
    public boolean ri;
    public boolean dr2i;
    public boolean dr1i;
    public boolean pdi;
    public boolean edi;
    public boolean csi;
    public boolean cdi;
    public boolean ebi;
    public boolean bbi;
}
