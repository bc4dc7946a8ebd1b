package com.zanvor.kelvra.services.comms;

/** Data and indications exchanged by the data natives of {@link Lu62Conversation}. */
public class Lu62Message {
    /** Send: bytes to send. Receive: most bytes to receive. Never negative. */
    public int fieldRequestedLength;
    /** The data, one byte per char (low 8 bits). */
    public char[] fieldBuffer;
    /** Receive: bytes copied into fieldBuffer. */
    public int fieldReceivedLength;
    /** Receive: CPI-C data-received indication. */
    public int fieldDataReceivedType;
    /** Receive: CPI-C status-received indication. */
    public int fieldStatusReceived;
    /** All four data natives: the partner asked for send control. */
    public boolean fieldRequestToSendReceived;

    public Lu62Message() {
    }

    /** A message ready to send the given text, one char per byte. */
    public static Lu62Message forSend(String text) {
        Lu62Message m = new Lu62Message();
        m.fieldBuffer = text.toCharArray();
        m.fieldRequestedLength = m.fieldBuffer.length;
        return m;
    }

    /** A message ready to receive up to capacity bytes. */
    public static Lu62Message forReceive(int capacity) {
        Lu62Message m = new Lu62Message();
        m.fieldBuffer = new char[capacity];
        m.fieldRequestedLength = capacity;
        return m;
    }

    /** The received bytes as text. */
    public String receivedText() {
        return new String(fieldBuffer, 0, fieldReceivedLength);
    }

    /** The text in a zero-filled array of the given size, cut to that size. */
    static char[] toChars(String text, int size) {
        char[] chars = new char[size];
        text.getChars(0, Math.min(text.length(), size), chars, 0);
        return chars;
    }
}
