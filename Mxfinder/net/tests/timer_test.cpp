#include "net/timer.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include "net/tests/event_loop_support.h"
#include "net/timer_support.h"

namespace mxfinder {
namespace {

using testing::PumpFor;
using testing::PumpUntil;

class TimerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MTimerSupport::FiredTimers().clear();
  }
};

TEST_F(TimerTest, FiresAfterItsPeriodInSecondsNotBefore) {
  CTimer timer;
  timer.SetTimeoutValue(1);
  int32_t id = 12345;
  QElapsedTimer clock;
  clock.start();
  timer.StartTimer(id);
  EXPECT_NE(12345, id);
  EXPECT_FALSE(timer.Timeout(id));
  ASSERT_TRUE(PumpUntil([&] { return timer.Timeout(id); }, 3000));
  EXPECT_GE(clock.elapsed(), 900);
  EXPECT_LE(clock.elapsed(), 2000);
}

TEST_F(TimerTest, StoppedTimerNoLongerCountsAsFiredAfterSeveralFirings) {
  CTimer timer;  // TimeoutValue 0 runs at the 10 ms minimum
  int32_t id = 0;
  timer.StartTimer(id);
  const std::string twice = std::to_string(id) + ";" + std::to_string(id) + ";";
  ASSERT_TRUE(PumpUntil([&] { return MTimerSupport::FiredTimers().find(twice) != std::string::npos; }, 2000));
  timer.StopTimer(id);
  EXPECT_FALSE(timer.Timeout(id));
  PumpFor(60);
  EXPECT_EQ("", MTimerSupport::FiredTimers());
}

TEST_F(TimerTest, IdentifiersCompareAsWholeEntries) {
  CTimer timer;
  MTimerSupport::FiredTimers() = "11;21;3;";
  EXPECT_FALSE(timer.Timeout(1));
  EXPECT_TRUE(timer.Timeout(21));
  timer.StopTimer(1);
  EXPECT_EQ("11;21;3;", MTimerSupport::FiredTimers());
  timer.StopTimer(21);
  EXPECT_EQ("11;3;", MTimerSupport::FiredTimers());
}

TEST_F(TimerTest, ResetOfAnIdleTimerClearsEveryFiringInTheProcess) {
  CTimer busy;
  int32_t id = 0;
  busy.StartTimer(id);
  ASSERT_TRUE(PumpUntil([&] { return busy.Timeout(id); }, 2000));
  CTimer idle;
  idle.Reset();
  EXPECT_FALSE(busy.Timeout(id));
}

TEST_F(TimerTest, ResetStartsTheTimersAgainWithTheNewPeriod) {
  CTimer timer;
  int32_t id = 0;
  timer.StartTimer(id);
  ASSERT_TRUE(PumpUntil([&] { return timer.Timeout(id); }, 2000));
  timer.SetTimeoutValue(1);
  timer.Reset();
  PumpFor(300);
  EXPECT_FALSE(timer.Timeout(id)) << MTimerSupport::FiredTimers();
}

TEST_F(TimerTest, ReleasedTimerStopsFiring) {
  int32_t id = 0;
  {
    CTimer timer;
    timer.StartTimer(id);
  }
  PumpFor(60);
  EXPECT_EQ("", MTimerSupport::FiredTimers());
}

}  // namespace
}  // namespace mxfinder
