/* The project's one way to the Win32 API: the system's own on Windows, the emulation on POSIX. */
#ifndef KELVRA_WIN32API_H
#define KELVRA_WIN32API_H

#ifdef _WIN32
#include <windows.h>
#else
#include "win32_posix.h"
#endif

#endif
