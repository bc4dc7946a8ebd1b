// Kernel objects of the emulation and the process-wide handle table.
// Later object kinds (pipes, files) derive from Object and go through the same table.
#pragma once

#include "win32_posix.h"

#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>

namespace win32emu {

enum class Kind { Event, Mutex, Semaphore, Thread, Process };

class Waitable;

class Object {
 public:
  explicit Object(Kind kind) : kind_(kind) {}
  virtual ~Object() = default;
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  Kind kind() const { return kind_; }
  virtual Waitable* waitable() { return nullptr; }

 private:
  friend class HandleTable;
  const Kind kind_;
  // Guarded by the table lock: the name lives while any handle to the object is open.
  std::string name_;
  size_t handles_ = 0;
};

using ObjectPtr = std::shared_ptr<Object>;

// New handle to obj; nullptr with last-error set when the table is full.
HANDLE add_handle(ObjectPtr obj);

// The object behind h (which may be the process pseudo-handle), or nullptr with
// ERROR_INVALID_HANDLE. The returned reference keeps the object alive after a close.
ObjectPtr lookup(HANDLE h);

template <class T>
std::shared_ptr<T> lookup_as(HANDLE h, Kind kind) {
  ObjectPtr obj = lookup(h);
  if (!obj) return nullptr;
  if (obj->kind() != kind) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return std::static_pointer_cast<T>(obj);
}

// Create* for the named kinds. An empty or null name makes an unnamed object. An existing
// object of the same kind gets a new handle and ERROR_ALREADY_EXISTS (make is not called);
// another kind under that name fails with ERROR_INVALID_HANDLE. A new object sets ERROR_SUCCESS.
HANDLE create_named(LPCSTR name, Kind kind, const std::function<ObjectPtr()>& make);

// Removes h from the table; the object goes when its last reference does.
bool close_handle(HANDLE h);

// Synchronisation state of every waitable object is guarded by this one lock, so a
// wait on several objects sees and takes them atomically.
std::mutex& sync_lock();

struct Waiter;

class Waitable : public Object {
 public:
  using Object::Object;
  Waitable* waitable() override { return this; }

  // The three below are called with sync_lock() held.
  virtual bool signalled(DWORD tid) const = 0;
  // Takes the object for thread tid (auto-reset, count, ownership); true if it was an
  // abandoned mutex.
  virtual bool acquire(DWORD tid) = 0;

  std::list<Waiter*> waiters;  // in arrival order
};

// With sync_lock() held, after obj became signalled: hands it to waiters that can now be
// satisfied, first come first served, and wakes them.
void wake(Waitable& obj);

// Mutex ownership bookkeeping of the calling thread (mutex.cpp).
void note_owned(const ObjectPtr& mutex);
void note_released(const Object* mutex);
void abandon_owned_mutexes();

DWORD current_tid();

}  // namespace win32emu
