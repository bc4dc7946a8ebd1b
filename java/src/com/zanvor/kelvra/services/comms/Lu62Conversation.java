package com.zanvor.kelvra.services.comms;

/**
 * One LU 6.2 conversation through CPI-C. Each working native makes exactly one CPI-C call and
 * returns its return code; the conversation is known only by {@link #conversationId}, which
 * the initializing calls fill in. Load the native library "cpicbridge" before use.
 */
public class Lu62Conversation {
    /** CPI-C conversation identifier: 8 bytes, one per char, then two zero chars. */
    public char[] conversationId = new char[10];
    /** Symbolic destination name for CPIC_Initialize_Conversation, at most 8 chars. */
    public char[] symbolicDestinationName = new char[8];
    /** Transaction program name, at most 64 chars; ends at the first zero char. */
    public char[] tpName = new char[64];

    public Lu62Conversation() {
    }

    public Lu62Conversation(String symbolicDestination, String transactionProgram) {
        setSymbolicDestinationName(symbolicDestination);
        setTpName(transactionProgram);
    }

    public void setSymbolicDestinationName(String name) {
        symbolicDestinationName = Lu62Message.toChars(name, 8);
    }

    public void setTpName(String name) {
        tpName = Lu62Message.toChars(name, 64);
    }

    public static native String getWrapperLU62Version();

    public native int CPIC_Accept_Incoming();
    public native int CPIC_Allocate();
    public native int CPIC_Cancel_Conversation();
    public native int CPIC_Confirmed();
    public native int CPIC_Deallocate();
    public native int CPIC_Flush();
    public native int CPIC_Prepare_To_Receive();
    public native int CPIC_Request_To_Send();
    public native int CPIC_Initialize_Conversation();
    public native int CPIC_Initialize_For_Incoming();
    public native int CPIC_Set_Deallocate_Type(int jdeallocateType);
    public native int CPIC_Set_Conversation_Type(boolean jconversationType);
    public native int CPIC_Set_Processing_Mode(boolean jprocessingMode);
    public native int CPIC_Set_Receive_Type(boolean jreceiveType);
    public native int CPIC_Set_Send_Type(int jsendType);
    public native int CPIC_Set_Sync_Level(boolean jsyncLevel);
    public native int CPIC_Set_TP_Name();
    public native int CPIC_Specify_Local_TP_Name();

    /** No operation. */
    public native int CPIC_Set_LU_Name();
    /** No operation. */
    public native int Unregister_For_Allocate();
    /** No operation; returns null. */
    public native String Accept_Conversation(String jLUName, String jTPName);
    /** No operation; returns null. */
    public native String Allocate_Conversation(String jLUName, String jTPName, String jSDName);
    /** No operation; returns null. */
    public native String Send_Receive_Complete(Object messageObj, String jSDName, String jTPName,
            int timeout, char[] jData, String jStatus, String jLUName);

    /** Sends fieldRequestedLength bytes of fieldBuffer; sets fieldRequestToSendReceived. */
    public native int CPIC_Send_Data(Object messageObj);
    /** Receives at most fieldRequestedLength bytes into fieldBuffer and sets the indications. */
    public native int CPIC_Receive(Object messageObj);
    /** Reports an error to the partner; sets fieldRequestToSendReceived. */
    public native int CPIC_Send_Error(Object messageObj);
    /** Asks the partner for confirmation; sets fieldRequestToSendReceived. */
    public native int CPIC_Confirm(Object messageObj);
}
