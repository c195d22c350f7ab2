// Internals shared by the timer and the run loop that fires it.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/runloop/run_loop.h"

namespace orv {

struct Timer::State {
  Duration interval{};
  std::weak_ptr<void> target;
  bool holds_target = false;  // false: scheduled without a target, nothing to outlive
  std::function<void()> selector;
  bool repeats = false;
  std::atomic<bool> valid{true};

  TimePoint fire_date() const {
    std::lock_guard lock(mutex);
    return fire_date_;
  }
  void set_fire_date(TimePoint t) {
    std::lock_guard lock(mutex);
    fire_date_ = t;
  }

 private:
  mutable std::mutex mutex;
  TimePoint fire_date_{};
};

namespace detail {

// Fires a due timer once: drops it when its target is gone, otherwise runs the selector with
// the target kept alive for the call and retires a one-shot timer. A repeating timer's next
// fire date is an interval after its due date, or an interval after the clock's time when the
// selector returns if that is already past: missed intervals are skipped, never replayed.
void fire_timer(Timer::State& timer, const Clock& clock);

}  // namespace detail
}  // namespace orv
