// Natives for the benchmarks: an empty native, the yardstick every bridge call is compared
// with, and a switch of the stand-in RUI stack's completion mode.
#include <jni.h>

#include "rui_control.h"

extern "C" {

JNIEXPORT jint JNICALL Java_com_zanvor_kelvra_bench_BenchNatives_empty(JNIEnv *, jobject, jobject) { return 0; }

JNIEXPORT void JNICALL Java_com_zanvor_kelvra_bench_BenchNatives_ruiCompletion(JNIEnv *, jclass, jboolean async) {
    ruiCtl_Reset();
    ruiCtl_SetCompletion(async ? RUI_COMPLETE_ASYNC : RUI_COMPLETE_INLINE, 0);
}

} // extern "C"
