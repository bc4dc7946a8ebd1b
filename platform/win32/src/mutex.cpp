// Mutexes: recursive ownership, abandoned when the owner thread ends without releasing.
#include "objects.h"

#include <algorithm>
#include <vector>

namespace win32emu {

namespace {

class Mutex final : public Waitable {
 public:
  Mutex() : Waitable(Kind::Mutex) {}
  bool signalled(DWORD tid) const override { return owner_ == 0 || owner_ == tid; }
  bool acquire(DWORD tid) override {
    if (owner_ == tid) {
      ++depth_;
      return false;
    }
    owner_ = tid;
    depth_ = 1;
    bool was_abandoned = abandoned_;
    abandoned_ = false;
    return was_abandoned;
  }
  // False if tid is not the owner; released_fully tells whether it is free now.
  bool release(DWORD tid, bool& released_fully) {
    if (owner_ != tid || tid == 0) return false;
    released_fully = --depth_ == 0;
    if (released_fully) {
      owner_ = 0;
      wake(*this);
    }
    return true;
  }
  void abandon(DWORD tid) {
    if (owner_ != tid) return;
    owner_ = 0;
    depth_ = 0;
    abandoned_ = true;
    wake(*this);
  }

 private:
  DWORD owner_ = 0;
  DWORD depth_ = 0;
  bool abandoned_ = false;
};

// Mutexes the calling thread may own, to abandon at its end. Only the thread itself
// touches its list; ownership itself is checked under the sync lock.
struct OwnedMutexes {
  std::vector<std::weak_ptr<Object>> list;
  ~OwnedMutexes() { abandon_owned_mutexes(); }
};

thread_local OwnedMutexes t_owned;

}  // namespace

void note_owned(const ObjectPtr& mutex) {
  for (const auto& w : t_owned.list)
    if (!w.owner_before(mutex) && !mutex.owner_before(w)) return;
  t_owned.list.emplace_back(mutex);
}

void note_released(const Object* mutex) {
  auto& list = t_owned.list;
  list.erase(std::remove_if(list.begin(), list.end(),
                            [&](const std::weak_ptr<Object>& w) {
                              auto p = w.lock();
                              return !p || p.get() == mutex;
                            }),
             list.end());
}

void abandon_owned_mutexes() {
  std::vector<std::weak_ptr<Object>> list;
  list.swap(t_owned.list);
  DWORD tid = current_tid();
  for (auto& w : list) {
    ObjectPtr m = w.lock();  // released outside the lock below
    if (!m) continue;
    std::lock_guard<std::mutex> lk(sync_lock());
    static_cast<Mutex&>(*m).abandon(tid);
  }
}

}  // namespace win32emu

using namespace win32emu;

extern "C" {

HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL bInitialOwner, LPCSTR lpName) {
  return create_named(lpName, Kind::Mutex, [&]() -> ObjectPtr {
    auto m = std::make_shared<Mutex>();
    if (bInitialOwner) {
      m->acquire(current_tid());  // not yet visible to other threads
      note_owned(m);
    }
    return m;
  });
}

BOOL WINAPI ReleaseMutex(HANDLE hMutex) {
  auto m = lookup_as<Mutex>(hMutex, Kind::Mutex);
  if (!m) return FALSE;
  bool released_fully = false;
  {
    std::lock_guard<std::mutex> lk(sync_lock());
    if (!m->release(current_tid(), released_fully)) {
      SetLastError(ERROR_NOT_OWNER);
      return FALSE;
    }
  }
  if (released_fully) note_released(m.get());
  return TRUE;
}

}
