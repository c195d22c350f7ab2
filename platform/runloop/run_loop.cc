#include "platform/runloop/run_loop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/runloop/timer_state.h"

namespace orv {

namespace {

// The platform library is loaded by the program's first thread before main() runs, so this
// initialiser records the main thread.
const std::thread::id g_main_thread = std::this_thread::get_id();

class SteadyClock : public Clock {
 public:
  TimePoint now() const override { return TimePoint(std::chrono::steady_clock::now()); }
};

int poll_timeout_ms(Duration wait) {
  if (!(wait.count() > 0)) return 0;
  double ms = std::ceil(wait.count() * 1000.0);
  return ms >= INT_MAX ? INT_MAX : static_cast<int>(ms);
}

}  // namespace

bool isMainThread() {
  return std::this_thread::get_id() == g_main_thread;
}

TimePoint VirtualClock::now() const {
  return now_.load();
}
void VirtualClock::set(TimePoint t) {
  now_.store(t);
}

struct RunLoop::Impl {
  using Callback = std::shared_ptr<std::function<void()>>;

  std::mutex mutex;
  std::shared_ptr<Clock> clock = std::make_shared<SteadyClock>();
  std::vector<std::shared_ptr<Timer::State>> timers;
  std::deque<std::function<void()>> tasks;
  std::map<int, Callback> watched;
  bool stop_requested = false;
  int wake_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);

  void wake() const {
    std::uint64_t one = 1;
    ssize_t written = wake_fd >= 0 ? ::write(wake_fd, &one, sizeof one) : 0;
    (void)written;  // a full counter already means the loop will wake
  }
  void drain_wake() const {
    std::uint64_t count = 0;
    ssize_t got = wake_fd >= 0 ? ::read(wake_fd, &count, sizeof count) : 0;
    (void)got;
  }

  // The earliest valid timer, dropping invalid ones on the way. Caller holds the mutex.
  std::shared_ptr<Timer::State> earliest_timer() {
    std::erase_if(timers, [](const auto& t) { return !t->valid; });
    auto it = std::min_element(timers.begin(), timers.end(), [](const auto& a, const auto& b) {
      return a->fire_date() < b->fire_date();
    });
    return it == timers.end() ? nullptr : *it;
  }

  // Fires every timer due at the time of the call, earliest first. Each repeating timer fires
  // at most once per call, since it is rescheduled past `now` before its selector runs.
  void run_due_timers() {
    const std::shared_ptr<Clock> timing = current_clock();
    const TimePoint now = timing->now();
    for (;;) {
      std::shared_ptr<Timer::State> due;
      {
        std::lock_guard lock(mutex);
        due = earliest_timer();
      }
      if (!due || due->fire_date() > now) return;
      detail::fire_timer(*due, *timing);
    }
  }

  // Runs the tasks queued so far; tasks they queue wait for the next round.
  void drain_tasks() {
    std::deque<std::function<void()>> batch;
    {
      std::lock_guard lock(mutex);
      batch.swap(tasks);
    }
    for (auto& task : batch)
      task();
  }

  std::shared_ptr<Clock> current_clock() {
    std::lock_guard lock(mutex);
    return clock;
  }

  // How long run_once may sleep: until the next real-time timer, or not at all when tasks wait.
  Duration wait_limit(Duration max_wait) {
    std::lock_guard lock(mutex);
    if (!tasks.empty()) return Duration{0};
    if (dynamic_cast<VirtualClock*>(clock.get())) return max_wait;
    auto next = earliest_timer();
    if (!next) return max_wait;
    return std::min(max_wait, next->fire_date() - clock->now());
  }

  void wait_and_dispatch_input(Duration max_wait) {
    std::vector<pollfd> fds{{wake_fd, POLLIN, 0}};
    {
      std::lock_guard lock(mutex);
      for (const auto& [fd, cb] : watched)
        fds.push_back({fd, POLLIN, 0});
    }
    if (::poll(fds.data(), fds.size(), poll_timeout_ms(wait_limit(max_wait))) <= 0) return;
    if (fds[0].revents) drain_wake();
    for (std::size_t i = 1; i < fds.size(); ++i) {
      if (!fds[i].revents) continue;
      Callback callback;
      {
        std::lock_guard lock(mutex);
        auto it = watched.find(fds[i].fd);
        if (it == watched.end()) continue;
        callback = it->second;
        // A descriptor closed behind our back would wake every poll: stop watching it.
        if (fds[i].revents & POLLNVAL) {
          watched.erase(it);
          continue;
        }
      }
      (*callback)();
    }
  }
};

RunLoop::RunLoop() : impl_(std::make_unique<Impl>()) {}

RunLoop& RunLoop::main() {
  // Never destroyed: threads may still post to it while the process exits.
  static RunLoop* loop = new RunLoop;
  return *loop;
}

void RunLoop::set_clock(std::shared_ptr<Clock> clock) {
  if (!clock) return;
  std::lock_guard lock(impl_->mutex);
  // Timers keep their remaining time under the new clock.
  TimePoint old_now = impl_->clock->now();
  TimePoint new_now = clock->now();
  for (auto& t : impl_->timers)
    t->set_fire_date(new_now + (t->fire_date() - old_now));
  impl_->clock = std::move(clock);
}

const Clock& RunLoop::clock() const {
  std::lock_guard lock(impl_->mutex);
  return *impl_->clock;
}

void RunLoop::run_once(Duration max_wait) {
  impl_->run_due_timers();
  impl_->drain_tasks();
  impl_->wait_and_dispatch_input(max_wait);
  impl_->drain_tasks();
  impl_->run_due_timers();
}

void RunLoop::run() {
  for (;;) {
    {
      std::lock_guard lock(impl_->mutex);
      if (impl_->stop_requested) {
        impl_->stop_requested = false;
        return;
      }
    }
    run_once(Duration{3600});
  }
}

void RunLoop::stop() {
  {
    std::lock_guard lock(impl_->mutex);
    impl_->stop_requested = true;
  }
  impl_->wake();
}

void RunLoop::advance(Duration by) {
  VirtualClock* virtual_clock;
  {
    std::lock_guard lock(impl_->mutex);
    virtual_clock = dynamic_cast<VirtualClock*>(impl_->clock.get());
  }
  if (!virtual_clock) return;
  const TimePoint end = virtual_clock->now() + std::max(by, Duration{0});
  for (;;) {
    std::shared_ptr<Timer::State> next;
    {
      std::lock_guard lock(impl_->mutex);
      next = impl_->earliest_timer();
    }
    if (!next || next->fire_date() > end) break;
    virtual_clock->set(std::max(next->fire_date(), virtual_clock->now()));
    impl_->run_due_timers();
  }
  virtual_clock->set(end);
  impl_->run_due_timers();
}

void RunLoop::dispatch_sync(const std::function<void()>& task) {
  if (isMainThread()) {
    task();
    return;
  }
  std::mutex done_mutex;
  std::condition_variable done_cv;
  bool done = false;
  dispatch_async([&] {
    task();
    std::lock_guard lock(done_mutex);
    done = true;
    done_cv.notify_all();
  });
  std::unique_lock lock(done_mutex);
  done_cv.wait(lock, [&] { return done; });
}

void RunLoop::dispatch_async(std::function<void()> task) {
  {
    std::lock_guard lock(impl_->mutex);
    impl_->tasks.push_back(std::move(task));
  }
  impl_->wake();
}

void RunLoop::watch_fd(int fd, std::function<void()> on_readable) {
  {
    std::lock_guard lock(impl_->mutex);
    impl_->watched[fd] = std::make_shared<std::function<void()>>(std::move(on_readable));
  }
  impl_->wake();
}

void RunLoop::unwatch_fd(int fd) {
  std::lock_guard lock(impl_->mutex);
  impl_->watched.erase(fd);
}

void RunLoop::add_timer(std::shared_ptr<Timer::State> timer) {
  {
    std::lock_guard lock(impl_->mutex);
    impl_->timers.push_back(std::move(timer));
  }
  impl_->wake();  // a sleeping loop recomputes how long it may sleep
}
}  // namespace orv
