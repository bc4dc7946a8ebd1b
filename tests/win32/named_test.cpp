#include "win32_test_util.h"

#include <string>

namespace w32test {
namespace {

class NamedObjects : public Win32Test {};

// Names are per test so that no test meets another one's object.
std::string unique_name(const char* what) {
  return std::string("w32test.") + ::testing::UnitTest::GetInstance()->current_test_info()->name() + "." + what;
}

TEST_F(NamedObjects, SecondCreateOpensTheSameObject) {
  const std::string name = unique_name("ev");
  SetLastError(1234);
  Handle first = event(true, false, name.c_str());
  ASSERT_NE(nullptr, first.get());
  EXPECT_EQ(kSuccess, GetLastError()) << "a new object clears the error";

  Handle second = event(false, true, name.c_str());  // reset mode and state of the existing one hold
  ASSERT_NE(nullptr, second.get());
  EXPECT_EQ(kAlreadyExists, GetLastError());
  EXPECT_NE(first.get(), second.get());
  EXPECT_EQ(kTimeout, WaitForSingleObject(second.get(), 0));

  EXPECT_TRUE(SetEvent(second.get()));
  EXPECT_EQ(kObject0, WaitForSingleObject(first.get(), 0));
  EXPECT_EQ(kObject0, WaitForSingleObject(first.get(), 0)) << "still manual reset";

  first.reset();
  EXPECT_EQ(kObject0, WaitForSingleObject(second.get(), 0)) << "closing one handle keeps the object";
}

TEST_F(NamedObjects, NameGoesWithTheLastHandle) {
  const std::string name = unique_name("ev");
  Handle ev = event(true, true, name.c_str());
  ev.reset();
  ev = event(true, false, name.c_str());
  EXPECT_EQ(kSuccess, GetLastError());
  EXPECT_EQ(kTimeout, WaitForSingleObject(ev.get(), 0)) << "a new object, not the old set one";
}

TEST_F(NamedObjects, KindsShareOneNamespace) {
  const std::string name = unique_name("obj");
  Handle ev = event(true, false, name.c_str());
  ASSERT_NE(nullptr, ev.get());
  SetLastError(0);
  HANDLE m = CreateMutexA(nullptr, FALSE, name.c_str());
  EXPECT_EQ(nullptr, m);
  EXPECT_EQ(kInvalidHandle, GetLastError());
  SetLastError(0);
  HANDLE s = CreateSemaphoreA(nullptr, 0, 1, name.c_str());
  EXPECT_EQ(nullptr, s);
  EXPECT_EQ(kInvalidHandle, GetLastError());
  if (m) CloseHandle(m);
  if (s) CloseHandle(s);
}

TEST_F(NamedObjects, ExistingMutexIsOpenedNotTaken) {
  const std::string name = unique_name("mutex");
  Handle m(CreateMutexA(nullptr, FALSE, name.c_str()));
  ASSERT_NE(nullptr, m.get());
  Thread other([&]() -> DWORD {
    HANDLE again = CreateMutexA(nullptr, TRUE, name.c_str());
    DWORD error = GetLastError();
    BOOL released = ReleaseMutex(again);
    CloseHandle(again);
    return error == kAlreadyExists && !released ? 0 : 1;
  });
  EXPECT_EQ(0u, other.join()) << "the initial-owner request applies only to a new mutex";
  EXPECT_EQ(kObject0, WaitForSingleObject(m.get(), 0));
  EXPECT_TRUE(ReleaseMutex(m.get()));
}

// A wait holds the object: closing the handle it was given does not end or break it.
TEST_F(NamedObjects, WaitSurvivesTheCloseOfItsHandle) {
  const std::string name = unique_name("ev");
  HANDLE waited = CreateEventA(nullptr, FALSE, FALSE, name.c_str());
  Handle other = event(false, false, name.c_str());
  Handle ready = event(true, false);
  Thread waiter([&] {
    SetEvent(ready.get());
    return WaitForSingleObject(waited, INFINITE);
  });
  ASSERT_EQ(kObject0, WaitForSingleObject(ready.get(), INFINITE));
  Sleep(20);  // lets the waiter block first; the outcome must not depend on it
  EXPECT_TRUE(CloseHandle(waited));
  EXPECT_TRUE(SetEvent(other.get()));
  EXPECT_EQ(kObject0, waiter.join());
}

}  // namespace
}  // namespace w32test
