// The lines a messaging-center server writes about what it did on its own. Each kind of event is
// told at most once a minute, so a flood of connections cannot flood the log; repeats in between
// are counted and the count goes with the next line of that kind. Safe to call from any thread.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string_view>

namespace orv::ipc {

class ServerLog {
 public:
  enum Kind : std::size_t { Displaced, Refused, SlowPeer, AcceptFailed, kKindCount };
  using Sink = std::function<void(std::string_view line)>;

  // Where the lines go; standard error, prefixed "messaging center: ", until one is set.
  void set_sink(Sink sink);
  void note(Kind kind, std::string_view line);

 private:
  struct Throttle {
    std::optional<std::chrono::steady_clock::time_point> last_told;
    std::size_t untold = 0;
  };

  std::mutex mutex_;
  Sink sink_;
  std::array<Throttle, kKindCount> throttles_{};
};

}  // namespace orv::ipc
