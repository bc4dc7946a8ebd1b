// Injected failures: lets tests of the callers reach the paths that a real system takes only
// when it runs out of resources. Costs one atomic load per call while none is pending.
#include "faults.h"

#include <atomic>
#include <deque>
#include <map>
#include <mutex>
#include <string>

#include "win32emu_debug.h"

namespace win32emu {
namespace {

std::mutex faultsMutex;
std::map<std::string, std::deque<DWORD>> pendingFaults;
std::atomic<int> pendingCount{0};

}  // namespace

bool take_fault(const char* function) {
  if (pendingCount.load(std::memory_order_acquire) == 0) return false;
  std::lock_guard<std::mutex> lk(faultsMutex);
  auto it = pendingFaults.find(function);
  if (it == pendingFaults.end() || it->second.empty()) return false;
  DWORD error = it->second.front();
  it->second.pop_front();
  pendingCount.fetch_sub(1, std::memory_order_acq_rel);
  SetLastError(error);
  return true;
}

}  // namespace win32emu

extern "C" void win32emu_FailNext(const char* function, DWORD error) {
  std::lock_guard<std::mutex> lk(win32emu::faultsMutex);
  win32emu::pendingFaults[function].push_back(error);
  win32emu::pendingCount.fetch_add(1, std::memory_order_acq_rel);
}
