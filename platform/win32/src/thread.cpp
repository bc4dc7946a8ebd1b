// Threads, thread ids and Sleep.
#include "thread_object.h"

#include <condition_variable>
#include <errno.h>
#include <sched.h>
#include <time.h>
#include <unistd.h>

namespace win32emu {

namespace {

thread_local DWORD t_tid = 0;

struct StartInfo {
  std::shared_ptr<ThreadObject> self;  // the thread keeps its object while it runs
  LPTHREAD_START_ROUTINE start;
  LPVOID param;
};

std::condition_variable& started_cv() {
  static auto* cv = new std::condition_variable;
  return *cv;
}

void* trampoline(void* arg) {
  std::unique_ptr<StartInfo> info(static_cast<StartInfo*>(arg));
  {
    std::lock_guard<std::mutex> lk(sync_lock());
    info->self->tid = current_tid();
  }
  started_cv().notify_all();
  DWORD code = info->start(info->param);
  // As on Windows, mutexes still held are abandoned before the thread counts as ended.
  abandon_owned_mutexes();
  {
    std::lock_guard<std::mutex> lk(sync_lock());
    info->self->exit_code = code;
    info->self->ended = true;
    wake(*info->self);
  }
  // Dropping our reference may destroy the object; it then detaches this thread.
  return nullptr;
}

}  // namespace

DWORD current_tid() {
  if (t_tid == 0) t_tid = static_cast<DWORD>(gettid());
  return t_tid;
}

ThreadObject::~ThreadObject() {
  if (started && !reaped) pthread_detach(thread);
}

void ThreadObject::reap() {
  std::lock_guard<std::mutex> lk(join_mu);
  if (!started || reaped) return;
  pthread_join(thread, nullptr);
  reaped = true;
}

}  // namespace win32emu

using namespace win32emu;

extern "C" {

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T dwStackSize, LPTHREAD_START_ROUTINE lpStartAddress,
                           LPVOID lpParameter, DWORD dwCreationFlags, LPDWORD lpThreadId) {
  // Suspended creation is not supported here.
  if (!lpStartAddress || (dwCreationFlags & ~STACK_SIZE_PARAM_IS_A_RESERVATION) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto obj = std::make_shared<ThreadObject>();
  HANDLE h = add_handle(obj);
  if (!h) return nullptr;

  pthread_attr_t attr;
  pthread_attr_init(&attr);
  size_t default_stack = 0;
  pthread_attr_getstacksize(&attr, &default_stack);
  if (dwStackSize > default_stack) pthread_attr_setstacksize(&attr, dwStackSize);

  auto* info = new StartInfo{obj, lpStartAddress, lpParameter};
  int rc;
  {
    std::lock_guard<std::mutex> lk(obj->join_mu);
    rc = pthread_create(&obj->thread, &attr, trampoline, info);
    obj->started = rc == 0;
  }
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete info;
    CloseHandle(h);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }

  DWORD tid;
  {
    std::unique_lock<std::mutex> lk(sync_lock());
    started_cv().wait(lk, [&] { return obj->tid != 0; });
    tid = obj->tid;
  }
  if (lpThreadId) *lpThreadId = tid;
  return h;
}

BOOL WINAPI GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode) {
  auto t = lookup_as<ThreadObject>(hThread, Kind::Thread);
  if (!t) return FALSE;
  std::lock_guard<std::mutex> lk(sync_lock());
  if (lpExitCode) *lpExitCode = t->exit_code;
  return TRUE;
}

DWORD WINAPI GetCurrentThreadId(void) { return current_tid(); }

void WINAPI Sleep(DWORD dwMilliseconds) {
  if (dwMilliseconds == 0) {
    sched_yield();
    return;
  }
  if (dwMilliseconds == INFINITE) {
    for (;;) pause();
  }
  timespec left{static_cast<time_t>(dwMilliseconds / 1000), static_cast<long>(dwMilliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) == -1 && errno == EINTR) {
  }
}

}
