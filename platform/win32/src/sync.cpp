// Waits, events and semaphores.
#include "faults.h"
#include "objects.h"
#include "thread_object.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <vector>

namespace win32emu {

struct Waiter {
  std::condition_variable cv;
  std::vector<Waitable*> objects;
  std::vector<std::list<Waiter*>::iterator> links;  // our entries in the objects' lists
  bool all = false;
  DWORD tid = 0;
  bool done = false;
  DWORD result = WAIT_TIMEOUT;
};

namespace {

// With sync_lock() held: takes the objects if the wait is satisfied now.
bool try_satisfy(Waiter& w) {
  if (w.all) {
    for (Waitable* o : w.objects)
      if (!o->signalled(w.tid)) return false;
    bool abandoned = false;
    for (Waitable* o : w.objects) abandoned = o->acquire(w.tid) || abandoned;
    w.result = abandoned ? WAIT_ABANDONED_0 : WAIT_OBJECT_0;
    return true;
  }
  for (size_t i = 0; i < w.objects.size(); ++i) {
    if (w.objects[i]->signalled(w.tid)) {
      bool abandoned = w.objects[i]->acquire(w.tid);
      w.result = (abandoned ? WAIT_ABANDONED_0 : WAIT_OBJECT_0) + static_cast<DWORD>(i);
      return true;
    }
  }
  return false;
}

void unlink(Waiter& w) {
  for (size_t i = 0; i < w.links.size(); ++i) w.objects[i]->waiters.erase(w.links[i]);
  w.links.clear();
}

class Event final : public Waitable {
 public:
  Event(bool manual, bool initial) : Waitable(Kind::Event), manual_(manual), set_(initial) {}
  bool signalled(DWORD) const override { return set_; }
  bool acquire(DWORD) override {
    if (!manual_) set_ = false;
    return false;
  }
  void set() {
    set_ = true;
    wake(*this);
  }
  void reset() { set_ = false; }

 private:
  const bool manual_;
  bool set_;
};

class Semaphore final : public Waitable {
 public:
  Semaphore(LONG initial, LONG maximum) : Waitable(Kind::Semaphore), count_(initial), max_(maximum) {}
  bool signalled(DWORD) const override { return count_ > 0; }
  bool acquire(DWORD) override {
    --count_;
    return false;
  }
  // False when the count would pass the maximum; the count is then left alone.
  bool release(LONG n, LONG& previous) {
    if (n > max_ - count_) return false;
    previous = count_;
    count_ += n;
    wake(*this);
    return true;
  }

 private:
  LONG count_;
  const LONG max_;
};

DWORD wait_for(const HANDLE* handles, DWORD count, bool all, DWORD ms) {
  std::vector<ObjectPtr> refs;  // keep the objects alive even if their handles are closed meanwhile
  refs.reserve(count);
  Waiter w;
  w.all = all;
  w.tid = current_tid();
  for (DWORD i = 0; i < count; ++i) {
    ObjectPtr obj = lookup(handles[i]);
    Waitable* waitable = obj ? obj->waitable() : nullptr;
    if (!waitable) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
    if (all && std::find(w.objects.begin(), w.objects.end(), waitable) != w.objects.end()) {
      SetLastError(ERROR_INVALID_PARAMETER);  // one object twice cannot be taken "all at once"
      return WAIT_FAILED;
    }
    w.objects.push_back(waitable);
    refs.push_back(std::move(obj));
  }

  {
    std::unique_lock<std::mutex> lk(sync_lock());
    if (!try_satisfy(w)) {
      if (ms == 0) return WAIT_TIMEOUT;
      for (Waitable* o : w.objects) w.links.push_back(o->waiters.insert(o->waiters.end(), &w));
      auto done = [&w] { return w.done; };
      if (ms == INFINITE) {
        w.cv.wait(lk, done);
      } else if (!w.cv.wait_until(lk, std::chrono::steady_clock::now() + std::chrono::milliseconds(ms), done)) {
        unlink(w);
        return WAIT_TIMEOUT;
      }
    }
  }

  // What we took is ours now: remember owned mutexes, and reap ended threads so that a
  // satisfied wait on a thread means the thread is gone.
  auto took = [&](size_t i) {
    if (refs[i]->kind() == Kind::Mutex) note_owned(refs[i]);
    if (refs[i]->kind() == Kind::Thread) static_cast<ThreadObject&>(*refs[i]).reap();
  };
  if (all) {
    for (size_t i = 0; i < refs.size(); ++i) took(i);
  } else {
    took((w.result & ~WAIT_ABANDONED_0) - WAIT_OBJECT_0);
  }
  return w.result;
}

}  // namespace

void wake(Waitable& obj) {
  bool progress = true;
  while (progress) {
    progress = false;
    for (Waiter* w : obj.waiters) {
      if (try_satisfy(*w)) {
        unlink(*w);
        w->done = true;
        w->cv.notify_one();
        progress = true;
        break;  // the list changed
      }
    }
  }
}

}  // namespace win32emu

using namespace win32emu;

extern "C" {

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState, LPCSTR lpName) {
  if (take_fault("CreateEventA")) return nullptr;
  return create_named(lpName, Kind::Event, [&] {
    return std::make_shared<Event>(bManualReset != FALSE, bInitialState != FALSE);
  });
}

BOOL WINAPI SetEvent(HANDLE hEvent) {
  auto ev = lookup_as<Event>(hEvent, Kind::Event);
  if (!ev) return FALSE;
  std::lock_guard<std::mutex> lk(sync_lock());
  ev->set();
  return TRUE;
}

BOOL WINAPI ResetEvent(HANDLE hEvent) {
  auto ev = lookup_as<Event>(hEvent, Kind::Event);
  if (!ev) return FALSE;
  std::lock_guard<std::mutex> lk(sync_lock());
  ev->reset();
  return TRUE;
}

HANDLE WINAPI CreateSemaphoreA(LPSECURITY_ATTRIBUTES, LONG lInitialCount, LONG lMaximumCount, LPCSTR lpName) {
  if (lMaximumCount <= 0 || lInitialCount < 0 || lInitialCount > lMaximumCount) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return create_named(lpName, Kind::Semaphore,
                      [&] { return std::make_shared<Semaphore>(lInitialCount, lMaximumCount); });
}

BOOL WINAPI ReleaseSemaphore(HANDLE hSemaphore, LONG lReleaseCount, LPLONG lpPreviousCount) {
  auto sem = lookup_as<Semaphore>(hSemaphore, Kind::Semaphore);
  if (!sem) return FALSE;
  if (lReleaseCount <= 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  LONG previous = 0;
  {
    std::lock_guard<std::mutex> lk(sync_lock());
    if (!sem->release(lReleaseCount, previous)) {
      SetLastError(ERROR_TOO_MANY_POSTS);
      return FALSE;
    }
  }
  if (lpPreviousCount) *lpPreviousCount = previous;
  return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  if (take_fault("WaitForSingleObject")) return WAIT_FAILED;
  return wait_for(&hHandle, 1, false, dwMilliseconds);
}

DWORD WINAPI WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds) {
  if (nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS || !lpHandles) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  return wait_for(lpHandles, nCount, bWaitAll != FALSE, dwMilliseconds);
}

}
