package com.zanvor.kelvra.bench;

import com.zanvor.kelvra.services.comms.Lu0SnaSession;
import com.zanvor.kelvra.services.comms.Lu62Conversation;
import com.zanvor.kelvra.services.comms.Lu62Message;
import com.zanvor.kelvra.services.comms.LuaRequest;
import java.util.Arrays;

/**
 * Compares bridge calls against an empty native loaded the same way, in one run: warm-up,
 * then repeated rounds, reporting the median time per operation and the ratio to the empty
 * native's median.
 */
public final class BridgeBench {
    private static final int ROUNDS = 15;

    private interface Op {
        void run();
    }

    private BridgeBench() {
    }

    public static void main(String[] args) {
        System.loadLibrary("cpicbridge");
        System.loadLibrary("ruibridge");
        System.loadLibrary("benchnative");
        BenchNatives natives = new BenchNatives();
        Object argument = new Object();

        double empty = measure("empty native", 200_000, () -> natives.empty(argument));

        Lu62Conversation flushConversation = allocatedEcho();
        double flush = measure("CPIC_Flush", 200_000, () -> check(flushConversation.CPIC_Flush()));

        Lu62Conversation echo = allocatedEcho();
        Lu62Message out = Lu62Message.forSend("x".repeat(4096));
        Lu62Message in = Lu62Message.forReceive(8192);
        double sendReceive = measure("CPIC_Send_Data 4 KB + CPIC_Receive", 5_000, () -> {
            check(echo.CPIC_Send_Data(out));
            check(echo.CPIC_Receive(in));
            while (in.fieldStatusReceived != 1) { // the turn comes back with the echo or after it
                check(echo.CPIC_Receive(in));
            }
        });

        BenchNatives.ruiCompletion(false);
        double ruiInline = ruiRoundTrip("RUI_write + RUI_read 256 B, completed inside RUI");
        BenchNatives.ruiCompletion(true);
        double ruiAsync = ruiRoundTrip("RUI_write + RUI_read 256 B, completed by the stack thread");
        BenchNatives.ruiCompletion(false);

        System.out.println();
        System.out.printf("ratio CPIC_Flush / empty native:              %8.1f%n", flush / empty);
        System.out.printf("ratio 4 KB send + receive / empty native:     %8.1f%n", sendReceive / empty);
        System.out.printf("ratio RUI write + read inline / empty native: %8.1f%n", ruiInline / empty);
        System.out.printf("ratio RUI write + read async / empty native:  %8.1f%n", ruiAsync / empty);
    }

    private static double ruiRoundTrip(String name) {
        Lu0SnaSession session = new Lu0SnaSession();
        LuaRequest init = LuaRequest.forLu("LU0DEMO");
        session.RUI_init(init);
        check(init.lua_prim_rc);
        LuaRequest write = new LuaRequest();
        write.lua_sid = init.lua_sid;
        write.lua_data_ptr = new char[256];
        Arrays.fill(write.lua_data_ptr, 'd');
        write.lua_data_length = 256;
        write.flag1.lu_norm = true;
        LuaRequest read = new LuaRequest();
        read.lua_sid = init.lua_sid;
        read.lua_max_length = 512;
        read.lua_data_ptr = new char[512];
        double t = measure(name, 5_000, () -> {
            session.RUI_write(write);
            check(write.lua_prim_rc);
            session.RUI_read(read);
            check(read.lua_prim_rc);
        });
        session.RUI_term(init);
        return t;
    }

    private static Lu62Conversation allocatedEcho() {
        Lu62Conversation c = new Lu62Conversation("ECHO", "ECHOTP");
        check(c.CPIC_Initialize_Conversation());
        check(c.CPIC_Allocate());
        return c;
    }

    private static void check(int rc) {
        if (rc != 0) {
            throw new IllegalStateException("unexpected return code " + rc);
        }
    }

    /** Median nanoseconds per operation over ROUNDS rounds of n operations, after a warm-up. */
    private static double measure(String name, int n, Op op) {
        for (int i = 0; i < n; i++) {
            op.run();
        }
        double[] perOp = new double[ROUNDS];
        for (int r = 0; r < ROUNDS; r++) {
            long start = System.nanoTime();
            for (int i = 0; i < n; i++) {
                op.run();
            }
            perOp[r] = (System.nanoTime() - start) / (double) n;
        }
        Arrays.sort(perOp);
        double median = perOp[ROUNDS / 2];
        System.out.printf("%-60s median %10.1f ns/op (min %.1f, max %.1f)%n", name, median, perOp[0], perOp[ROUNDS - 1]);
        return median;
    }
}
