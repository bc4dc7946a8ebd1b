/* Test helpers of the POSIX emulation; not Win32, absent on Windows. */
#ifndef KELVRA_WIN32EMU_DEBUG_H
#define KELVRA_WIN32EMU_DEBUG_H

#ifndef _WIN32
#include "win32_posix.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Number of handles currently open in the process (the process pseudo-handle not counted). */
WIN32API_EXPORT DWORD win32emu_OpenHandleCount(void);

#ifdef __cplusplus
}
#endif
#endif

#endif
