#include <cmath>

#include "platform/runloop/timer_state.h"

namespace orv {

namespace {

// The platform never fires faster than this; a zero or negative interval means "as soon as
// possible, repeatedly" and gets this instead.
constexpr Duration kMinimumInterval{0.0001};

bool is_empty(const std::weak_ptr<void>& target) {
  std::weak_ptr<void> empty;
  return !target.owner_before(empty) && !empty.owner_before(target);
}

// A timer on time keeps its rhythm; one that missed whole intervals (the machine slept, or its
// selector outlasted the interval) fires once and counts its next interval from now, so it
// never fires back to back to catch up.
TimePoint next_fire_date(TimePoint due, Duration interval, TimePoint now) {
  TimePoint next = due + interval;
  return next > now ? next : now + interval;
}

}  // namespace

std::shared_ptr<Timer> Timer::scheduledTimerWithTimeInterval(double seconds,
                                                             std::weak_ptr<void> target,
                                                             std::function<void()> selector,
                                                             bool repeats) {
  auto state = std::make_shared<State>();
  Duration interval{seconds};
  state->interval =
      (std::isnan(seconds) || interval < kMinimumInterval) ? kMinimumInterval : interval;
  state->holds_target = !is_empty(target);
  state->target = std::move(target);
  state->selector = std::move(selector);
  state->repeats = repeats;
  state->set_fire_date(RunLoop::main().clock().now() + state->interval);
  RunLoop::main().add_timer(state);
  return std::make_shared<Timer>(std::move(state));
}

void Timer::invalidate() {
  state_->valid = false;
}
bool Timer::isValid() const {
  return state_->valid;
}
double Timer::timeInterval() const {
  return state_->interval.count();
}
TimePoint Timer::fireDate() const {
  return state_->fire_date();
}

namespace detail {

void fire_timer(Timer::State& timer, const Clock& clock) {
  if (!timer.valid) return;
  std::shared_ptr<void> keep_alive;
  if (timer.holds_target) {
    keep_alive = timer.target.lock();
    if (!keep_alive) {
      timer.valid = false;
      return;
    }
  }
  const TimePoint due = timer.fire_date();
  // Rescheduled before the selector runs, so a run loop turned inside it does not fire the
  // timer again, and once more after it, from the time the selector returned.
  if (timer.repeats)
    timer.set_fire_date(next_fire_date(due, timer.interval, clock.now()));
  else
    timer.valid = false;
  if (timer.selector) timer.selector();
  if (timer.repeats) timer.set_fire_date(next_fire_date(due, timer.interval, clock.now()));
}

}  // namespace detail
}  // namespace orv
