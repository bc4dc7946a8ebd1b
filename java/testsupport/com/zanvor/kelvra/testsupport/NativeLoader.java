package com.zanvor.kelvra.testsupport;

/**
 * Loads native libraries for the application class loader: System.load binds a library to
 * its caller's loader, and a call straight from native code has no caller.
 */
public final class NativeLoader {
    private NativeLoader() {
    }

    public static void load(String path) {
        System.load(path);
    }
}
