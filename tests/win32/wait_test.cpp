#include "win32_test_util.h"

#include <string>
#include <vector>

namespace w32test {
namespace {

class WaitMultiple : public Win32Test {};

TEST_F(WaitMultiple, AnyReportsTheLowestSignalledIndexAndTakesOnlyThat) {
  Handle a = event(false, false), b = event(false, true), c = event(false, true);
  HANDLE hs[] = {a.get(), b.get(), c.get()};
  EXPECT_EQ(kObject0 + 1, WaitForMultipleObjects(3, hs, FALSE, 0));
  EXPECT_EQ(kObject0 + 2, WaitForMultipleObjects(3, hs, FALSE, 0));
  EXPECT_EQ(kTimeout, WaitForMultipleObjects(3, hs, FALSE, 0));
}

TEST_F(WaitMultiple, AllTakesNothingUntilEverythingIsSignalled) {
  Handle a = event(false, true), b = event(false, false);
  HANDLE hs[] = {a.get(), b.get()};
  EXPECT_EQ(kTimeout, WaitForMultipleObjects(2, hs, TRUE, 0));
  EXPECT_EQ(kObject0, WaitForSingleObject(a.get(), 0)) << "a failed wait-all took a signal";
  SetEvent(a.get());

  Thread setter([&] { return SetEvent(b.get()) ? 0u : 1u; });
  EXPECT_EQ(kObject0, WaitForMultipleObjects(2, hs, TRUE, INFINITE));
  EXPECT_EQ(0u, setter.join());
  EXPECT_EQ(kTimeout, WaitForMultipleObjects(2, hs, FALSE, 0)) << "wait-all takes both auto-reset signals";
}

TEST_F(WaitMultiple, AnyIsReleasedByASignalFromAnotherThread) {
  Handle a = event(false, false), b = event(false, false);
  HANDLE hs[] = {a.get(), b.get()};
  Thread setter([&] { return SetEvent(b.get()) ? 0u : 1u; });
  EXPECT_EQ(kObject0 + 1, WaitForMultipleObjects(2, hs, FALSE, INFINITE));
  EXPECT_EQ(0u, setter.join());
}

TEST_F(WaitMultiple, RejectsBadCounts) {
  Handle ev = event(true, true);
  std::vector<HANDLE> hs(MAXIMUM_WAIT_OBJECTS + 1, ev.get());
  for (DWORD n : {DWORD{0}, DWORD{MAXIMUM_WAIT_OBJECTS + 1}}) {
    SCOPED_TRACE(n);
    SetLastError(0);
    EXPECT_EQ(kFailed, WaitForMultipleObjects(n, hs.data(), FALSE, 0));
    EXPECT_EQ(kInvalidParameter, GetLastError());
  }
  EXPECT_EQ(kObject0, WaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS, hs.data(), FALSE, 0));
}

// Calls that take one handle, with the value they return on failure.
struct Call {
  const char* name;
  DWORD (*call)(HANDLE);
  DWORD failed;
  bool waits;
};

const Call kCalls[] = {
    {"SetEvent", [](HANDLE h) -> DWORD { return SetEvent(h) ? 1 : 0; }, 0, false},
    {"ResetEvent", [](HANDLE h) -> DWORD { return ResetEvent(h) ? 1 : 0; }, 0, false},
    {"ReleaseMutex", [](HANDLE h) -> DWORD { return ReleaseMutex(h) ? 1 : 0; }, 0, false},
    {"ReleaseSemaphore", [](HANDLE h) -> DWORD { return ReleaseSemaphore(h, 1, nullptr) ? 1 : 0; }, 0, false},
    {"GetExitCodeThread",
     [](HANDLE h) -> DWORD {
       DWORD code;
       return GetExitCodeThread(h, &code) ? 1 : 0;
     },
     0, false},
    {"CloseHandle", [](HANDLE h) -> DWORD { return CloseHandle(h) ? 1 : 0; }, 0, false},
    {"WaitForSingleObject", [](HANDLE h) { return WaitForSingleObject(h, 0); }, kFailed, true},
    {"WaitForMultipleObjects",
     [](HANDLE h) {
       HANDLE hs[] = {h};
       return WaitForMultipleObjects(1, hs, FALSE, 0);
     },
     kFailed, true},
};

class BadHandles : public Win32Test {};

TEST_F(BadHandles, FailWithInvalidHandle) {
  // Objects first: the system may hand a closed handle's value to the next object made.
  Handle mutex(CreateMutexA(nullptr, FALSE, nullptr));
  Handle sem(CreateSemaphoreA(nullptr, 0, 1, nullptr));
  HANDLE closed = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_TRUE(CloseHandle(closed));

  struct Bad {
    const char* name;
    HANDLE h;
  };
  const Bad bad[] = {{"null", nullptr}, {"closed", closed}};
  for (const Call& c : kCalls) {
    for (const Bad& b : bad) {
      SCOPED_TRACE(std::string(c.name) + " on " + b.name);
      SetLastError(0);
      EXPECT_EQ(c.failed, c.call(b.h));
      EXPECT_EQ(kInvalidHandle, GetLastError());
    }
  }

  // Another kind of object is as good as no object.
  struct WrongKind {
    const char* call;
    HANDLE h;
  };
  const WrongKind wrong[] = {{"SetEvent", mutex.get()},
                             {"ResetEvent", sem.get()},
                             {"ReleaseMutex", sem.get()},
                             {"ReleaseSemaphore", mutex.get()},
                             {"GetExitCodeThread", mutex.get()}};
  for (const WrongKind& w : wrong) {
    for (const Call& c : kCalls) {
      if (std::string(c.name) != w.call) continue;
      SCOPED_TRACE(c.name);
      SetLastError(0);
      EXPECT_EQ(c.failed, c.call(w.h));
      EXPECT_EQ(kInvalidHandle, GetLastError());
    }
  }
}

TEST_F(BadHandles, AnInvalidHandleFailsAWaitOnSeveral) {
  Handle ev = event(true, true);
  HANDLE hs[] = {ev.get(), nullptr};
  SetLastError(0);
  EXPECT_EQ(kFailed, WaitForMultipleObjects(2, hs, FALSE, 0));
  EXPECT_EQ(kInvalidHandle, GetLastError());
}

class Handles : public Win32Test {};

// Another component keeps handles in 32-bit record fields.
TEST_F(Handles, ValuesSurviveA32BitField) {
  std::vector<Handle> objects;
  for (int i = 0; i < 16; ++i) objects.push_back(event(true, false));
  objects.push_back(Handle(CreateMutexA(nullptr, FALSE, nullptr)));
  objects.push_back(Handle(CreateSemaphoreA(nullptr, 0, 1, nullptr)));
  for (const Handle& h : objects) {
    ASSERT_NE(nullptr, h.get());
    auto value = reinterpret_cast<uintptr_t>(h.get());
    EXPECT_LE(value, uintptr_t{0xFFFFFFFFu});
    auto field = static_cast<uint32_t>(value);
    EXPECT_EQ(h.get(), reinterpret_cast<HANDLE>(static_cast<uintptr_t>(field)));
  }
  auto first = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(objects.front().get()));
  EXPECT_TRUE(SetEvent(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(first))));
  EXPECT_EQ(kObject0, WaitForSingleObject(objects.front().get(), 0));
}

TEST_F(Handles, EachOpenHandleIsDistinct) {
  std::vector<Handle> objects;
  for (int i = 0; i < 64; ++i) objects.push_back(event(false, false));
  for (size_t i = 0; i < objects.size(); ++i)
    for (size_t j = i + 1; j < objects.size(); ++j) EXPECT_NE(objects[i].get(), objects[j].get());
}

TEST_F(Handles, ProcessPseudoHandleIsNeverSignalledAndClosesQuietly) {
  EXPECT_EQ(kTimeout, WaitForSingleObject(GetCurrentProcess(), 0));
  EXPECT_TRUE(CloseHandle(GetCurrentProcess()));
}

}  // namespace
}  // namespace w32test
