// Failures injected by tests through win32emu_FailNext.
#ifndef WIN32EMU_FAULTS_H
#define WIN32EMU_FAULTS_H

#include "win32_posix.h"

namespace win32emu {

// True (with the injected last-error set) if the next call of this function is to fail.
bool take_fault(const char* function);

}  // namespace win32emu

#endif
