package com.zanvor.kelvra.services.comms;

/**
 * Transmission header. flags_mpf (2 bits) and flags_fid (4 bits) hold multi-bit values but
 * travel as booleans: towards Java they are true when non-zero.
 */
public class LuaTH {
    public boolean flags_efi;
    public boolean flags_odai;
    public boolean flags_mpf;
    public boolean flags_fid;
    public char daf;
    public char oaf;
    /** Sequence number field, two bytes, one per char. */
    public char[] snf = new char[2];
}
