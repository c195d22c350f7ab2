// The main run loop: timers, main-queue tasks and the host's input, all on the main thread.
// The main thread is the thread that loaded the platform library (the program's first thread).
// Time comes from a Clock that tests replace with a virtual one, so a 10-second timer or an
// 888-second dialog time-out is tested without sleeping.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

namespace orv {

using Duration = std::chrono::duration<double>;  // seconds
using TimePoint = std::chrono::time_point<std::chrono::steady_clock, Duration>;

class Clock {
 public:
  virtual ~Clock() = default;
  virtual TimePoint now() const = 0;
};

// A clock that moves only when told to. RunLoop::advance() moves it and fires what fell due.
class VirtualClock : public Clock {
 public:
  TimePoint now() const override;
  void set(TimePoint t);

 private:
  std::atomic<TimePoint> now_{TimePoint{}};
};

bool isMainThread();

class Timer {
 public:
  // The platform's scheduledTimerWithTimeInterval:target:selector:userInfo:repeats: on the main
  // run loop. The timer holds its target weakly: once the target is gone the timer stops (it
  // never keeps a closed page alive). `selector` runs on the main thread with the target.
  static std::shared_ptr<Timer> scheduledTimerWithTimeInterval(double seconds,
                                                               std::weak_ptr<void> target,
                                                               std::function<void()> selector,
                                                               bool repeats);
  void invalidate();
  bool isValid() const;
  double timeInterval() const;
  TimePoint fireDate() const;

  struct State;
  explicit Timer(std::shared_ptr<State> state) : state_(std::move(state)) {}

 private:
  std::shared_ptr<State> state_;
};

class RunLoop {
 public:
  static RunLoop& main();

  // Replaces the clock (tests: a VirtualClock). Call before timers are scheduled.
  void set_clock(std::shared_ptr<Clock> clock);
  const Clock& clock() const;

  // Runs due timers and queued main-queue tasks, then waits up to `max_wait` for more work or
  // for the file descriptors being watched. Main thread only.
  void run_once(Duration max_wait);
  // Runs until stop() is called (from a task, a timer or an input callback).
  void run();
  void stop();

  // With a VirtualClock: moves time forward by `by`, firing every timer that falls due on the
  // way, in order, each at its own due time.
  void advance(Duration by);

  // dispatch_sync onto the main queue: from the main thread the task runs at once; from another
  // thread it is queued, and the caller waits until it has run on the main thread.
  void dispatch_sync(const std::function<void()>& task);
  // Queues a task for the main thread and returns at once.
  void dispatch_async(std::function<void()> task);

  // Calls `on_readable` on the main thread whenever `fd` can be read (the host's terminal input).
  void watch_fd(int fd, std::function<void()> on_readable);
  void unwatch_fd(int fd);

  // Puts a scheduled timer on this loop (Timer::scheduledTimerWithTimeInterval does).
  void add_timer(std::shared_ptr<Timer::State> timer);

  struct Impl;

 private:
  RunLoop();
  std::unique_ptr<Impl> impl_;
};

}  // namespace orv
