#include "win32_test_util.h"

#include <string>

namespace w32test {
namespace {

class Mutexes : public Win32Test {};

TEST_F(Mutexes, OwnerMayTakeItAgainAndMustReleaseAsOften) {
  Handle m(CreateMutexA(nullptr, TRUE, nullptr));
  ASSERT_NE(nullptr, m.get());
  EXPECT_EQ(kObject0, WaitForSingleObject(m.get(), 0));
  EXPECT_EQ(kObject0, WaitForSingleObject(m.get(), INFINITE));

  Thread other([&] { return WaitForSingleObject(m.get(), 0); });
  EXPECT_EQ(kTimeout, other.join());

  EXPECT_TRUE(ReleaseMutex(m.get()));
  EXPECT_TRUE(ReleaseMutex(m.get()));
  Thread still_held([&] { return WaitForSingleObject(m.get(), 0); });
  EXPECT_EQ(kTimeout, still_held.join()) << "one of three holds is left";

  EXPECT_TRUE(ReleaseMutex(m.get()));
  SetLastError(0);
  EXPECT_FALSE(ReleaseMutex(m.get()));
  EXPECT_EQ(kNotOwner, GetLastError());
}

TEST_F(Mutexes, OnlyTheOwnerMayRelease) {
  Handle m(CreateMutexA(nullptr, FALSE, nullptr));
  ASSERT_NE(nullptr, m.get());
  SetLastError(0);
  EXPECT_FALSE(ReleaseMutex(m.get())) << "nobody owns it";
  EXPECT_EQ(kNotOwner, GetLastError());

  ASSERT_EQ(kObject0, WaitForSingleObject(m.get(), 0));
  Thread other([&]() -> DWORD {
    SetLastError(0);
    return ReleaseMutex(m.get()) ? 0 : GetLastError();
  });
  EXPECT_EQ(kNotOwner, other.join());
  EXPECT_TRUE(ReleaseMutex(m.get()));

  Thread taker([&]() -> DWORD {
    DWORD r = WaitForSingleObject(m.get(), 0);
    if (r == kObject0) ReleaseMutex(m.get());
    return r;
  });
  EXPECT_EQ(kObject0, taker.join()) << "free once released";
}

enum class HowOwned { InitialOwner, Wait };
enum class HowWaited { Single, AnyAtIndex1, All };

struct AbandonCase {
  const char* name;
  HowOwned owned;
  HowWaited waited;
  DWORD expect;
};

class MutexAbandon : public Win32Test, public ::testing::WithParamInterface<AbandonCase> {};

// The owner ends while holding the mutex (possibly while we already wait): the next wait
// obtains it, reporting the abandonment once, and we own it afterwards.
TEST_P(MutexAbandon, NextWaitObtainsItAsAbandoned) {
  const AbandonCase& c = GetParam();
  Handle m(c.owned == HowOwned::Wait ? CreateMutexA(nullptr, FALSE, nullptr) : nullptr);
  HANDLE mutex = m.get();
  Handle owned = event(true, false);
  Handle go = event(true, false);
  Thread owner([&]() -> DWORD {
    if (c.owned == HowOwned::InitialOwner) {
      mutex = CreateMutexA(nullptr, TRUE, nullptr);
    } else if (WaitForSingleObject(mutex, INFINITE) != kObject0) {
      return 1;
    }
    SetEvent(owned.get());
    WaitForSingleObject(go.get(), INFINITE);
    return 0;  // without ReleaseMutex
  });
  ASSERT_EQ(kObject0, WaitForSingleObject(owned.get(), INFINITE));
  if (!m) m.reset(mutex);
  EXPECT_EQ(kTimeout, WaitForSingleObject(mutex, 0));

  Handle unsignalled = event(true, false);
  Handle signalled = event(true, true);
  HANDLE any[] = {unsignalled.get(), mutex};
  HANDLE all[] = {signalled.get(), mutex};
  SetEvent(go.get());
  DWORD r = 0;
  switch (c.waited) {
    case HowWaited::Single:
      r = WaitForSingleObject(mutex, INFINITE);
      break;
    case HowWaited::AnyAtIndex1:
      r = WaitForMultipleObjects(2, any, FALSE, INFINITE);
      break;
    case HowWaited::All:
      r = WaitForMultipleObjects(2, all, TRUE, INFINITE);
      break;
  }
  EXPECT_EQ(c.expect, r);
  EXPECT_EQ(0u, owner.join());

  EXPECT_TRUE(ReleaseMutex(mutex)) << "the abandoned mutex is ours now";
  EXPECT_EQ(kObject0, WaitForSingleObject(mutex, 0)) << "abandonment is reported once";
  EXPECT_TRUE(ReleaseMutex(mutex));
}

INSTANTIATE_TEST_SUITE_P(
    Win32, MutexAbandon,
    ::testing::Values(AbandonCase{"OwnedByWait", HowOwned::Wait, HowWaited::Single, kAbandoned0},
                      AbandonCase{"OwnedFromCreation", HowOwned::InitialOwner, HowWaited::Single, kAbandoned0},
                      AbandonCase{"WaitAnyGivesIndex", HowOwned::Wait, HowWaited::AnyAtIndex1, kAbandoned0 + 1},
                      AbandonCase{"WaitAll", HowOwned::Wait, HowWaited::All, kAbandoned0}),
    CaseName());

}  // namespace
}  // namespace w32test
