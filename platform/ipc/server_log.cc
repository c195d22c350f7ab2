#include "platform/ipc/server_log.h"

#include <unistd.h>

#include <string>

namespace orv::ipc {
namespace {

constexpr std::chrono::minutes kInterval{1};

void write_to_stderr(std::string_view line) {
  // One write per line, so lines from several threads never interleave.
  std::string text = "messaging center: ";
  text.append(line);
  text.push_back('\n');
  [[maybe_unused]] ssize_t written = ::write(STDERR_FILENO, text.data(), text.size());
}

}  // namespace

void ServerLog::set_sink(Sink sink) {
  std::lock_guard lock(mutex_);
  sink_ = std::move(sink);
}

void ServerLog::note(Kind kind, std::string_view line) {
  std::lock_guard lock(mutex_);
  Throttle& throttle = throttles_[kind];
  const auto now = std::chrono::steady_clock::now();
  if (throttle.last_told && now - *throttle.last_told < kInterval) {
    ++throttle.untold;
    return;
  }
  std::string text(line);
  if (throttle.untold > 0)
    text += " (and " + std::to_string(throttle.untold) + " more since the last such line)";
  throttle.last_told = now;
  throttle.untold = 0;
  if (sink_)
    sink_(text);
  else
    write_to_stderr(text);
}

}  // namespace orv::ipc
