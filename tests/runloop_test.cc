#include <vector>

#include "platform/runloop/run_loop.h"
#include "tests/support/test_support.h"

namespace {

using orv::Duration;
using orv::RunLoop;
using orv::Timer;

class RunLoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clock_ = std::make_shared<orv::VirtualClock>();
    RunLoop::main().set_clock(clock_);
    start_ = clock_->now();
  }
  double elapsed() const { return (clock_->now() - start_).count(); }

  std::shared_ptr<orv::VirtualClock> clock_;
  orv::TimePoint start_;
};

TEST_F(RunLoopTest, RepeatingTimerFiresOnTheMainThreadEveryIntervalUntilStopped) {
  auto page = std::make_shared<int>(0);
  auto closed_page = std::make_shared<int>(0);
  std::vector<double> ticks;
  int closed_page_ticks = 0;
  bool always_main = true;
  auto timer = Timer::scheduledTimerWithTimeInterval(
      10.0, page,
      [&] {
        ticks.push_back(elapsed());
        always_main = always_main && orv::isMainThread();
      },
      true);
  auto orphan = Timer::scheduledTimerWithTimeInterval(
      10.0, closed_page, [&] { ++closed_page_ticks; }, true);
  RunLoop::main().advance(Duration{9.5});
  EXPECT_TRUE(ticks.empty());
  RunLoop::main().advance(Duration{25.5});
  EXPECT_EQ(ticks, (std::vector<double>{10, 20, 30}));
  EXPECT_TRUE(always_main);
  EXPECT_DOUBLE_EQ((timer->fireDate() - start_).count(), 40);

  timer->invalidate();
  closed_page.reset();
  RunLoop::main().advance(Duration{30});
  EXPECT_EQ(ticks.size(), 3u);
  EXPECT_EQ(closed_page_ticks, 3) << "a timer stops once its target is gone";
  EXPECT_FALSE(orphan->isValid());
}

TEST_F(RunLoopTest, ALateTimerFiresOnceAndCountsItsNextIntervalFromNow) {
  auto page = std::make_shared<int>(0);
  std::vector<double> ticks;
  auto timer = Timer::scheduledTimerWithTimeInterval(
      10.0, page,
      [&] {
        ticks.push_back(elapsed());
        if (ticks.size() == 1) clock_->set(clock_->now() + Duration{30});  // a hung request
      },
      true);
  clock_->set(start_ + Duration{10});
  RunLoop::main().run_once(Duration{0});
  EXPECT_EQ(ticks, (std::vector<double>{10}));
  EXPECT_DOUBLE_EQ((timer->fireDate() - start_).count(), 50);

  clock_->set(start_ + Duration{95});  // several intervals missed at once
  RunLoop::main().run_once(Duration{0});
  RunLoop::main().run_once(Duration{0});
  EXPECT_EQ(ticks, (std::vector<double>{10, 95}));
  EXPECT_DOUBLE_EQ((timer->fireDate() - start_).count(), 105);
  timer->invalidate();
}

}  // namespace
