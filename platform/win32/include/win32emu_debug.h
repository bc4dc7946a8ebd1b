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

/* The next call of the named function ("CreateEventA" or "WaitForSingleObject") fails as the
   system would when out of resources: it returns NULL or WAIT_FAILED with this last-error. */
WIN32API_EXPORT void win32emu_FailNext(const char *function, DWORD error);

#ifdef __cplusplus
}
#endif
#endif

#endif
