/* Machine-dependent JNI definitions for Windows builds: exported natives use the
   platform's standard calling convention, as the Java VM on Windows expects. */
#ifndef BRIDGES_JNI_MD_H
#define BRIDGES_JNI_MD_H

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint;
typedef __int64 jlong;
typedef signed char jbyte;

#endif
