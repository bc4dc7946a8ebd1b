package com.zanvor.kelvra.testsupport;

/** An object with none of the fields the natives look for. */
public class BareObject {
}
