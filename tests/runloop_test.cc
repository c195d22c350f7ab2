#include <unistd.h>

#include <atomic>
#include <thread>
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

TEST_F(RunLoopTest, RepeatingTimerFiresOnTheMainThreadEveryInterval) {
  auto page = std::make_shared<int>(0);
  std::vector<double> ticks;
  bool always_main = true;
  auto timer = Timer::scheduledTimerWithTimeInterval(
      10.0, page,
      [&] {
        ticks.push_back(elapsed());
        always_main = always_main && orv::isMainThread();
      },
      true);
  RunLoop::main().advance(Duration{9.5});
  EXPECT_TRUE(ticks.empty());
  RunLoop::main().advance(Duration{25.5});
  EXPECT_EQ(ticks, (std::vector<double>{10, 20, 30}));
  EXPECT_TRUE(always_main);
  EXPECT_TRUE(timer->isValid());
  EXPECT_DOUBLE_EQ((timer->fireDate() - start_).count(), 40);
  timer->invalidate();
  RunLoop::main().advance(Duration{20});
  EXPECT_EQ(ticks.size(), 3u);
}

TEST_F(RunLoopTest, TimerStopsOnceItsTargetIsGone) {
  auto page = std::make_shared<int>(0);
  int fired = 0;
  auto timer = Timer::scheduledTimerWithTimeInterval(
      10.0, page, [&] { ++fired; }, true);
  RunLoop::main().advance(Duration{10});
  EXPECT_EQ(fired, 1);
  page.reset();
  RunLoop::main().advance(Duration{30});
  EXPECT_EQ(fired, 1);
  EXPECT_FALSE(timer->isValid());
}

TEST_F(RunLoopTest, LateLoopFiresOnceAndKeepsTheSchedule) {
  int fired = 0;
  auto timer = Timer::scheduledTimerWithTimeInterval(
      10.0, {}, [&] { ++fired; }, true);
  clock_->set(start_ + Duration{35});  // the loop was busy through three ticks
  RunLoop::main().run_once(Duration{0});
  EXPECT_EQ(fired, 1);
  EXPECT_DOUBLE_EQ((timer->fireDate() - start_).count(), 40);
  timer->invalidate();
}

TEST_F(RunLoopTest, OneShotsFireInDueOrderAndNegativeIntervalsAreClamped) {
  std::vector<int> order;
  std::shared_ptr<Timer> late;
  auto third = Timer::scheduledTimerWithTimeInterval(
      3.0, {}, [&] { order.push_back(3); }, false);
  auto first = Timer::scheduledTimerWithTimeInterval(
      1.0, {},
      [&] {
        order.push_back(1);
        late = Timer::scheduledTimerWithTimeInterval(
            1.0, {}, [&] { order.push_back(2); }, false);
      },
      false);
  int fast = 0;
  auto zero = Timer::scheduledTimerWithTimeInterval(
      -5.0, {}, [&] { ++fast; }, true);
  EXPECT_DOUBLE_EQ(zero->timeInterval(), 0.0001);
  RunLoop::main().advance(Duration{10});
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
  EXPECT_FALSE(first->isValid());
  EXPECT_NEAR(fast, 100000, 2);
  zero->invalidate();
}

TEST(RunLoopQueue, DispatchSyncRunsInlineOnMainAndWaitsFromElsewhereAsyncRunsInOrder) {
  bool inline_ran = false;
  RunLoop::main().dispatch_sync([&] { inline_ran = true; });
  EXPECT_TRUE(inline_ran);

  std::atomic<bool> ran_on_main{false}, returned{false}, ran_before_return{false};
  std::thread worker([&] {
    RunLoop::main().dispatch_sync([&] { ran_on_main = orv::isMainThread(); });
    ran_before_return = ran_on_main.load();
    returned = true;
  });
  while (!returned)
    RunLoop::main().run_once(Duration{0.05});
  worker.join();
  EXPECT_TRUE(ran_on_main);
  EXPECT_TRUE(ran_before_return);

  std::vector<int> order;
  RunLoop::main().dispatch_async([&] { order.push_back(1); });
  RunLoop::main().dispatch_async([&] {
    order.push_back(2);
    RunLoop::main().stop();
  });
  RunLoop::main().run();
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST(RunLoopInput, WatchedDescriptorWakesTheLoop) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  std::string got;
  RunLoop::main().watch_fd(fds[0], [&] {
    char buf[16];
    ssize_t n = ::read(fds[0], buf, sizeof buf);
    if (n > 0) got.append(buf, static_cast<std::size_t>(n));
  });
  ASSERT_EQ(::write(fds[1], "key", 3), 3);
  RunLoop::main().run_once(Duration{1});
  EXPECT_EQ(got, "key");
  RunLoop::main().unwatch_fd(fds[0]);
  ASSERT_EQ(::write(fds[1], "x", 1), 1);
  RunLoop::main().run_once(Duration{0});
  EXPECT_EQ(got, "key");
  ::close(fds[0]);
  ::close(fds[1]);
}

}  // namespace
