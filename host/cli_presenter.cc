#include "host/cli_presenter.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>

#include "host/text_grid.h"

namespace orv::host {

namespace {

DialogResponse answer(CFOptionFlags flags, std::vector<std::string> fields = {}) {
  return DialogResponse{flags, std::move(fields)};
}

// Dialog texts come from files and the service: keep each on its one line, without control
// characters.
std::string one_line(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (c == '\n' || c == '\r') c = ' ';
  return printable(out);
}

// One line typed on `fd`, without its newline; nullopt when `timeout_seconds` (> 0) passed
// before it was complete. The end of input ends the line.
std::optional<std::string> read_line(int fd, double timeout_seconds) {
  constexpr std::size_t kLongestReply = 64;
  using Clock = std::chrono::steady_clock;
  auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                     std::chrono::duration<double>(timeout_seconds));
  std::string line;
  while (line.size() < kLongestReply) {
    int wait_ms = -1;
    if (timeout_seconds > 0) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) return std::nullopt;
      wait_ms = static_cast<int>(std::min<std::int64_t>(left.count(), 60'000));
    }
    pollfd ready{fd, POLLIN, 0};
    int polled = poll(&ready, 1, wait_ms);
    if (polled < 0 && errno != EINTR) break;
    if (polled <= 0) continue;
    char c = 0;
    ssize_t got = read(fd, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0 || c == '\n') break;
    line += c;
  }
  return line;
}

}  // namespace

std::optional<DialogResponse> CommandLinePresenter::present(const DialogRequest& request) {
  if (!request.text_field_titles.empty()) {
    std::fprintf(options_.out, "prompt: %s\n", one_line(request.message).c_str());
    std::fflush(options_.out);
    shown_.push_back({true, false, request.header});
    std::vector<std::string> fields(request.text_field_titles.size());
    fields[0] = options_.prompt_answer;
    return answer(kCFUserNotificationDefaultResponse, std::move(fields));
  }

  std::string line = "alert: " + one_line(request.header);
  if (!request.message.empty()) line += " | " + one_line(request.message);
  std::fprintf(options_.out, "%s\n", line.c_str());
  std::fflush(options_.out);

  bool confirmation = request.alternate_button.has_value();
  shown_.push_back({false, confirmation, request.header});
  if (!confirmation || options_.confirm == Confirm::Yes)
    return answer(kCFUserNotificationDefaultResponse);
  return ask_on_terminal(request.timeout);
}

// Asks on the terminal, if there is one; like the pages' alerts, the question closes itself
// with CANCEL once its time-out passes unanswered.
DialogResponse CommandLinePresenter::ask_on_terminal(double timeout_seconds) {
  if (!options_.in || !isatty(fileno(options_.in)))
    return answer(kCFUserNotificationAlternateResponse);
  std::fprintf(options_.out, "Continue? [y/N] ");
  std::fflush(options_.out);
  auto reply = read_line(fileno(options_.in), timeout_seconds);
  if (!reply) {
    std::fprintf(options_.out, "\nno answer: cancelled\n");
    return answer(kCFUserNotificationCancelResponse);
  }
  while (!reply->empty() && std::isspace(static_cast<unsigned char>(reply->back())))
    reply->pop_back();
  bool ok = *reply == "y" || *reply == "Y" || *reply == "yes" || *reply == "YES" || *reply == "Yes";
  return answer(ok ? kCFUserNotificationDefaultResponse : kCFUserNotificationAlternateResponse);
}

}  // namespace orv::host
