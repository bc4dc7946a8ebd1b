#include "win32_test_util.h"

#include <atomic>

namespace w32test {
namespace {

class Threads : public Win32Test {};

TEST_F(Threads, HandleIsSignalledWhenTheThreadEnds) {
  Handle go = event(true, false);
  std::atomic<DWORD> id_inside{0};
  Thread t([&]() -> DWORD {
    id_inside = GetCurrentThreadId();
    WaitForSingleObject(go.get(), INFINITE);
    return 42;
  });
  EXPECT_EQ(kTimeout, WaitForSingleObject(t.handle(), 0));
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(t.handle(), &code));
  EXPECT_EQ(kStillActive, code);

  SetEvent(go.get());
  EXPECT_EQ(kObject0, WaitForSingleObject(t.handle(), INFINITE));
  EXPECT_EQ(kObject0, WaitForSingleObject(t.handle(), 0)) << "stays signalled";
  EXPECT_TRUE(GetExitCodeThread(t.handle(), &code));
  EXPECT_EQ(42u, code);

  EXPECT_NE(0u, t.id());
  EXPECT_EQ(t.id(), id_inside.load()) << "the id CreateThread reports is the thread's own";
  EXPECT_NE(GetCurrentThreadId(), t.id());
}

TEST_F(Threads, LastErrorBelongsToEachThread) {
  SetLastError(1234);
  Thread t([]() -> DWORD {
    DWORD initial = GetLastError();
    SetLastError(77);
    return GetLastError() == 77 ? initial : 0xBAD;
  });
  EXPECT_EQ(0u, t.join()) << "a new thread starts with no error";
  EXPECT_EQ(1234u, GetLastError());
}

TEST_F(Threads, WaitOnSeveralThreadsReturnsOnceAllEnded) {
  Handle go = event(true, false);
  Thread a([&] { return WaitForSingleObject(go.get(), INFINITE); });
  Thread b([&] { return WaitForSingleObject(go.get(), INFINITE); });
  HANDLE both[] = {a.handle(), b.handle()};
  EXPECT_EQ(kTimeout, WaitForMultipleObjects(2, both, TRUE, 0));
  SetEvent(go.get());
  EXPECT_EQ(kObject0, WaitForMultipleObjects(2, both, TRUE, INFINITE));
  EXPECT_EQ(kObject0, a.join());
  EXPECT_EQ(kObject0, b.join());
}

}  // namespace
}  // namespace w32test
