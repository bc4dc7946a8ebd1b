// Handle table, names and last-error.
#include "objects.h"
#include "win32emu_debug.h"

#include <unordered_map>
#include <utility>

namespace win32emu {

namespace {

thread_local DWORD t_last_error = ERROR_SUCCESS;

// Handle values are multiples of 4 like the system's, below 2^31 so that they survive a
// 32-bit record field, never 0, and not handed out again while open. They are not reused
// soon after a close either, so a stale handle fails instead of reaching a new object.
constexpr uint32_t kHandleStep = 4;
constexpr uint32_t kMaxIndex = 0x7FFFFFFFu / kHandleStep;

class ProcessObject final : public Waitable {
 public:
  ProcessObject() : Waitable(Kind::Process) {}
  bool signalled(DWORD) const override { return false; }  // we never outlive ourselves
  bool acquire(DWORD) override { return false; }
};

}  // namespace

class HandleTable {
 public:
  HANDLE add(ObjectPtr obj) {
    std::lock_guard<std::mutex> lk(mu_);
    return add_locked(std::move(obj));
  }

  ObjectPtr find(HANDLE h) {
    std::lock_guard<std::mutex> lk(mu_);
    auto it = handles_.find(key(h));
    return it == handles_.end() ? nullptr : it->second;
  }

  HANDLE create_named(const std::string& name, Kind kind, const std::function<ObjectPtr()>& make) {
    ObjectPtr fresh;  // released after the lock if it could not be added
    std::lock_guard<std::mutex> lk(mu_);
    if (!name.empty()) {
      auto it = names_.find(name);
      if (it != names_.end()) {
        // Alive: a named object has an open handle, so this is never the last reference.
        ObjectPtr existing = it->second.lock();
        if (existing->kind() != kind) {
          SetLastError(ERROR_INVALID_HANDLE);
          return nullptr;
        }
        HANDLE h = add_locked(std::move(existing));
        if (h) SetLastError(ERROR_ALREADY_EXISTS);
        return h;
      }
    }
    fresh = make();
    if (!fresh) return nullptr;
    fresh->name_ = name;
    HANDLE h = add_locked(fresh);
    if (!h) {
      fresh->name_.clear();
      return nullptr;
    }
    if (!name.empty()) names_.emplace(name, fresh);
    SetLastError(ERROR_SUCCESS);
    return h;
  }

  bool close(HANDLE h) {
    ObjectPtr victim;  // dropped after the lock: its destructor may take other locks
    std::lock_guard<std::mutex> lk(mu_);
    auto it = handles_.find(key(h));
    if (it == handles_.end()) return false;
    victim = std::move(it->second);
    handles_.erase(it);
    if (--victim->handles_ == 0 && !victim->name_.empty()) names_.erase(victim->name_);
    return true;
  }

  DWORD count() {
    std::lock_guard<std::mutex> lk(mu_);
    return static_cast<DWORD>(handles_.size());
  }

 private:
  static uint32_t key(HANDLE h) {
    auto v = reinterpret_cast<uintptr_t>(h);
    if (v == 0 || v % kHandleStep != 0 || v / kHandleStep > kMaxIndex) return 0;
    return static_cast<uint32_t>(v);
  }

  HANDLE add_locked(ObjectPtr obj) {
    if (handles_.size() >= kMaxIndex) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    uint32_t value;
    do {
      value = next_index_ * kHandleStep;
      next_index_ = next_index_ == kMaxIndex ? 1 : next_index_ + 1;
    } while (handles_.count(value) != 0);
    ++obj->handles_;
    handles_.emplace(value, std::move(obj));
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value));
  }

  std::mutex mu_;
  std::unordered_map<uint32_t, ObjectPtr> handles_;
  std::unordered_map<std::string, std::weak_ptr<Object>> names_;
  uint32_t next_index_ = 1;
};

namespace {

// Never destroyed: threads of other libraries may still use handles during exit.
HandleTable& table() {
  static HandleTable* t = new HandleTable;
  return *t;
}

const ObjectPtr& process_object() {
  static const ObjectPtr* p = new ObjectPtr(std::make_shared<ProcessObject>());
  return *p;
}

}  // namespace

HANDLE add_handle(ObjectPtr obj) { return table().add(std::move(obj)); }

ObjectPtr lookup(HANDLE h) {
  if (h == INVALID_HANDLE_VALUE) return process_object();
  ObjectPtr obj = table().find(h);
  if (!obj) SetLastError(ERROR_INVALID_HANDLE);
  return obj;
}

HANDLE create_named(LPCSTR name, Kind kind, const std::function<ObjectPtr()>& make) {
  return table().create_named(name ? std::string(name) : std::string(), kind, make);
}

bool close_handle(HANDLE h) { return table().close(h); }

std::mutex& sync_lock() {
  static std::mutex* m = new std::mutex;
  return *m;
}

}  // namespace win32emu

using namespace win32emu;

extern "C" {

DWORD WINAPI GetLastError(void) { return t_last_error; }

void WINAPI SetLastError(DWORD dwErrCode) { t_last_error = dwErrCode; }

HANDLE WINAPI GetCurrentProcess(void) { return INVALID_HANDLE_VALUE; }

BOOL WINAPI CloseHandle(HANDLE hObject) {
  if (hObject == INVALID_HANDLE_VALUE) return TRUE;  // closing a pseudo-handle does nothing
  if (!close_handle(hObject)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

DWORD win32emu_OpenHandleCount(void) { return table().count(); }

}
