// Helpers for the Win32 conformance tests. Only the Win32 API is used, so the same tests
// run against the POSIX emulation and against a real Win32 (Windows, Wine).
#pragma once

#include "win32api.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>

#ifndef _WIN32
#include "win32emu_debug.h"
#endif

namespace w32test {

// The system headers give these different integer types; compare as DWORD.
constexpr DWORD kObject0 = WAIT_OBJECT_0;
constexpr DWORD kAbandoned0 = WAIT_ABANDONED;
constexpr DWORD kTimeout = WAIT_TIMEOUT;
constexpr DWORD kFailed = WAIT_FAILED;
constexpr DWORD kStillActive = STILL_ACTIVE;
constexpr DWORD kSuccess = ERROR_SUCCESS;
constexpr DWORD kInvalidHandle = ERROR_INVALID_HANDLE;
constexpr DWORD kInvalidParameter = ERROR_INVALID_PARAMETER;
constexpr DWORD kAlreadyExists = ERROR_ALREADY_EXISTS;
constexpr DWORD kNotOwner = ERROR_NOT_OWNER;
constexpr DWORD kTooManyPosts = ERROR_TOO_MANY_POSTS;

struct HandleCloser {
  void operator()(HANDLE h) const {
    if (h) CloseHandle(h);
  }
};
using Handle = std::unique_ptr<void, HandleCloser>;

inline Handle event(bool manual, bool initial, LPCSTR name = nullptr) {
  return Handle(CreateEventA(nullptr, manual ? TRUE : FALSE, initial ? TRUE : FALSE, name));
}

// A thread made with CreateThread running fn; the destructor waits for it and closes it.
class Thread {
 public:
  explicit Thread(std::function<DWORD()> fn) : fn_(std::move(fn)) {
    handle_ = CreateThread(nullptr, 0, &Thread::run, this, 0, &id_);
    EXPECT_NE(nullptr, handle_);
  }
  ~Thread() {
    if (handle_) {
      WaitForSingleObject(handle_, INFINITE);
      CloseHandle(handle_);
    }
  }
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  HANDLE handle() const { return handle_; }
  DWORD id() const { return id_; }

  // Waits for the end and returns the exit code.
  DWORD join() {
    EXPECT_EQ(kObject0, WaitForSingleObject(handle_, INFINITE));
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(handle_, &code));
    return code;
  }

 private:
  static DWORD WINAPI run(LPVOID self) { return static_cast<Thread*>(self)->fn_(); }

  std::function<DWORD()> fn_;
  HANDLE handle_ = nullptr;
  DWORD id_ = 0;
};

// Names parameterised cases after their `name` field.
struct CaseName {
  template <class P>
  std::string operator()(const ::testing::TestParamInfo<P>& p) const {
    return p.param.name;
  }
};

// Every test checks on POSIX that it left no handle open.
class Win32Test : public ::testing::Test {
#ifndef _WIN32
 protected:
  void SetUp() override { open_before_ = win32emu_OpenHandleCount(); }
  void TearDown() override { EXPECT_EQ(open_before_, win32emu_OpenHandleCount()) << "handles left open"; }

 private:
  DWORD open_before_ = 0;
#endif
};

}  // namespace w32test
