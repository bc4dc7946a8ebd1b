// The object behind a CreateThread handle.
#pragma once

#include "objects.h"

#include <pthread.h>

namespace win32emu {

class ThreadObject final : public Waitable {
 public:
  ThreadObject() : Waitable(Kind::Thread) {}
  ~ThreadObject() override;

  bool signalled(DWORD) const override { return ended; }
  bool acquire(DWORD) override { return false; }

  // Joins the ended thread once, so that after a satisfied wait it no longer exists.
  void reap();

  // Under sync_lock().
  DWORD tid = 0;
  bool ended = false;
  DWORD exit_code = STILL_ACTIVE;

  // Under join_mu.
  std::mutex join_mu;
  pthread_t thread{};
  bool started = false;
  bool reaped = false;
};

}  // namespace win32emu
