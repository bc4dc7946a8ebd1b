#include "win32_test_util.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace w32test {
namespace {

enum class Op { Wait, Set, Reset };

struct Step {
  Op op;
  DWORD expect = 0;  // wait result for Op::Wait
  DWORD ms = 0;
};

struct EventCase {
  const char* name;
  bool manual;
  bool initial;
  std::vector<Step> steps;
};

const Step kWaitGets{Op::Wait, kObject0};
const Step kWaitTimesOut{Op::Wait, kTimeout};
const Step kSet{Op::Set};
const Step kReset{Op::Reset};

class EventCases : public Win32Test, public ::testing::WithParamInterface<EventCase> {};

TEST_P(EventCases, FollowsTheSteps) {
  const EventCase& c = GetParam();
  Handle ev = event(c.manual, c.initial);
  ASSERT_NE(nullptr, ev.get());
  for (size_t i = 0; i < c.steps.size(); ++i) {
    const Step& s = c.steps[i];
    SCOPED_TRACE("step " + std::to_string(i));
    switch (s.op) {
      case Op::Wait:
        EXPECT_EQ(s.expect, WaitForSingleObject(ev.get(), s.ms));
        break;
      case Op::Set:
        EXPECT_TRUE(SetEvent(ev.get()));
        break;
      case Op::Reset:
        EXPECT_TRUE(ResetEvent(ev.get()));
        break;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Win32, EventCases,
    ::testing::Values(
        EventCase{"AutoInitiallySetServesOneWait", false, true, {kWaitGets, kWaitTimesOut}},
        EventCase{"ManualInitiallySetStaysSet", true, true, {kWaitGets, kWaitGets, kReset, kWaitTimesOut}},
        EventCase{"AutoInitiallyClear", false, false, {kWaitTimesOut, {Op::Wait, kTimeout, 10}}},
        EventCase{"AutoSetsDoNotAccumulate", false, false, {kSet, kSet, kWaitGets, kWaitTimesOut}},
        EventCase{"ManualSetBeforeWaitServesEveryWait", true, false,
                  {kWaitTimesOut, kSet, kWaitGets, kWaitGets, {Op::Wait, kObject0, INFINITE}}},
        EventCase{"ResetCancelsAPendingAutoSet", false, false, {kSet, kReset, kWaitTimesOut}},
        EventCase{"ResetOfAClearEventIsHarmless", true, false, {kReset, kWaitTimesOut, kSet, kWaitGets}}),
    CaseName());

class Events : public Win32Test {};

TEST_F(Events, WaitIsReleasedBySetEventFromAnotherThread) {
  Handle ready = event(true, false);
  Handle ev = event(false, false);
  Thread waiter([&] {
    SetEvent(ready.get());
    return WaitForSingleObject(ev.get(), INFINITE);
  });
  ASSERT_EQ(kObject0, WaitForSingleObject(ready.get(), INFINITE));
  EXPECT_TRUE(SetEvent(ev.get()));
  EXPECT_EQ(kObject0, waiter.join());
  EXPECT_EQ(kTimeout, WaitForSingleObject(ev.get(), 0)) << "the waiter took the auto-reset signal";
}

struct ReleaseCase {
  const char* name;
  bool manual;
};

class EventRelease : public Win32Test, public ::testing::WithParamInterface<ReleaseCase> {};

// Auto reset: each SetEvent releases exactly one of the blocked waiters; manual: all of them.
TEST_P(EventRelease, SetEventReleasesWaiters) {
  constexpr int kWaiters = 3;
  Handle ev = event(GetParam().manual, false);
  Handle released(CreateSemaphoreA(nullptr, 0, kWaiters, nullptr));
  std::atomic<int> woken{0};
  std::vector<std::unique_ptr<Thread>> waiters;
  for (int i = 0; i < kWaiters; ++i)
    waiters.push_back(std::make_unique<Thread>([&] {
      DWORD r = WaitForSingleObject(ev.get(), INFINITE);
      ++woken;
      ReleaseSemaphore(released.get(), 1, nullptr);
      return r;
    }));
  Sleep(20);  // lets the waiters block first; the outcome must not depend on it

  if (GetParam().manual) {
    EXPECT_TRUE(SetEvent(ev.get()));
    for (int i = 0; i < kWaiters; ++i) EXPECT_EQ(kObject0, WaitForSingleObject(released.get(), INFINITE));
  } else {
    for (int i = 1; i <= kWaiters; ++i) {
      EXPECT_TRUE(SetEvent(ev.get()));
      EXPECT_EQ(kObject0, WaitForSingleObject(released.get(), INFINITE));
      // A second release would show up here; the pause only makes a fault likelier to be seen.
      EXPECT_EQ(kTimeout, WaitForSingleObject(released.get(), 20));
      EXPECT_EQ(i, woken.load());
    }
  }
  for (auto& t : waiters) EXPECT_EQ(kObject0, t->join());
  EXPECT_EQ(kWaiters, woken.load());
}

INSTANTIATE_TEST_SUITE_P(Win32, EventRelease,
                         ::testing::Values(ReleaseCase{"AutoReleasesOneEach", false},
                                           ReleaseCase{"ManualReleasesAll", true}),
                         CaseName());

}  // namespace
}  // namespace w32test
