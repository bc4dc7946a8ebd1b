package com.zanvor.kelvra.demo;

import com.zanvor.kelvra.services.comms.Lu62Conversation;
import com.zanvor.kelvra.services.comms.Lu62Message;

/**
 * Walks through the bridges against the stand-in stacks, printing every call with its
 * return code. Run with -Djava.library.path naming the folder of the native libraries.
 */
public final class BridgeDemo {
    private BridgeDemo() {
    }

    public static void main(String[] args) {
        System.loadLibrary("cpicbridge");
        boolean ok = lu62Echo();
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

    private static boolean step(String call, int rc, int expected) {
        System.out.printf("%-40s rc=%d%s%n", call, rc, rc == expected ? "" : "  (unexpected)");
        return rc == expected;
    }
}
