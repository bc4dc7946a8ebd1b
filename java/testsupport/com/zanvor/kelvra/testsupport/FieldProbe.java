package com.zanvor.kelvra.testsupport;

/** One field of each kind the field helpers handle. */
public class FieldProbe {
    public int count;
    public boolean flag;
    public char letter;
    public double amount;
    public char[] data;
}
