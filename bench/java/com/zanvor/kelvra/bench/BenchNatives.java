package com.zanvor.kelvra.bench;

/** Natives of the benchmark library. */
public final class BenchNatives {
    /** Does nothing: the cost of reaching a native at all. */
    public native int empty(Object argument);

    /** Resets the stand-in RUI stack and sets where verbs complete. */
    public static native void ruiCompletion(boolean async);
}
