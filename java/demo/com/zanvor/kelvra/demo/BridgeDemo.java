package com.zanvor.kelvra.demo;

import com.zanvor.kelvra.services.comms.Lu0SnaSession;
import com.zanvor.kelvra.services.comms.Lu62Conversation;
import com.zanvor.kelvra.services.comms.Lu62Message;
import com.zanvor.kelvra.services.comms.LuaRequest;

/**
 * Walks through the bridges against the stand-in stacks, printing every call with its
 * return code. Run with -Djava.library.path naming the folder of the native libraries.
 */
public final class BridgeDemo {
    private BridgeDemo() {
    }

    public static void main(String[] args) {
        System.loadLibrary("cpicbridge");
        System.loadLibrary("ruibridge");
        boolean ok = lu62Echo();
        ok &= lu0Session();
        if (!ok) {
            System.exit(1);
        }
    }

    private static boolean lu62Echo() {
        System.out.println("== LU 6.2 conversation with the echo partner ==");
        System.out.println("version: " + Lu62Conversation.getWrapperLU62Version());
        Lu62Conversation conversation = new Lu62Conversation("ECHO", "ECHOTP");
        boolean ok = step("CPIC_Initialize_Conversation", conversation.CPIC_Initialize_Conversation(), 0);
        ok &= step("CPIC_Set_TP_Name", conversation.CPIC_Set_TP_Name(), 0);
        ok &= step("CPIC_Allocate", conversation.CPIC_Allocate(), 0);

        String text = "HELLO FROM THE BRANCH";
        Lu62Message out = Lu62Message.forSend(text);
        ok &= step("CPIC_Send_Data \"" + text + "\"", conversation.CPIC_Send_Data(out), 0);

        Lu62Message in = Lu62Message.forReceive(256);
        int rc = conversation.CPIC_Receive(in);
        ok &= step("CPIC_Receive", rc, 0);
        System.out.printf("    data received type %d, status received %d, %d bytes: \"%s\"%n",
                in.fieldDataReceivedType, in.fieldStatusReceived, in.fieldReceivedLength, in.receivedText());
        ok &= in.receivedText().equals(text);
        if (in.fieldStatusReceived == 0) {
            // The turn may come with the next receive, as status only.
            Lu62Message status = Lu62Message.forReceive(256);
            step("CPIC_Receive (status)", conversation.CPIC_Receive(status), 0);
            System.out.printf("    status received %d%n", status.fieldStatusReceived);
        }
        ok &= step("CPIC_Deallocate", conversation.CPIC_Deallocate(), 0);
        return ok;
    }

    private static boolean lu0Session() {
        System.out.println();
        System.out.println("== LU 0 session with the host application ==");
        Lu0SnaSession session = new Lu0SnaSession();
        LuaRequest init = LuaRequest.forLu("LU0DEMO");
        session.RUI_init(init);
        boolean ok = verb("RUI_init", init);
        System.out.printf("    session id %.0f, LU name \"%s\"%n", init.lua_sid, new String(init.lua_luname));

        String text = "BALANCE INQUIRY 0042";
        LuaRequest write = new LuaRequest();
        write.lua_sid = init.lua_sid;
        write.lua_data_ptr = text.toCharArray();
        write.lua_data_length = text.length();
        write.flag1.lu_norm = true;
        write.rh.bci = true;
        write.rh.eci = true;
        write.rh.dr1i = true;
        session.RUI_write(write);
        ok &= verb("RUI_write \"" + text + "\"", write);

        LuaRequest bid = new LuaRequest();
        bid.lua_sid = init.lua_sid;
        session.RUI_bid(bid);
        ok &= verb("RUI_bid", bid);
        System.out.printf("    %d bytes waiting, message type %d%n", bid.lua_data_length, (int) bid.lua_message_type);

        LuaRequest read = new LuaRequest();
        read.lua_sid = init.lua_sid;
        read.lua_max_length = 256;
        read.lua_data_ptr = new char[256];
        session.RUI_read(read);
        ok &= verb("RUI_read", read);
        System.out.printf("    %d bytes: \"%s\" (fid %b, lu_norm %b)%n", read.lua_data_length, read.dataText(),
                read.th.flags_fid, read.flag2.lu_norm);

        session.RUI_term(init);
        ok &= verb("RUI_term", init);
        return ok;
    }

    private static boolean verb(String name, LuaRequest r) {
        System.out.printf("%-40s prim_rc=%d sec_rc=%.0f%s%n", name, r.lua_prim_rc, r.lua_sec_rc,
                r.lua_prim_rc == 0 ? "" : "  (unexpected)");
        return r.lua_prim_rc == 0;
    }

    private static boolean step(String call, int rc, int expected) {
        System.out.printf("%-40s rc=%d%s%n", call, rc, rc == expected ? "" : "  (unexpected)");
        return rc == expected;
    }
}
