#include "host/cli_presenter.h"

#include <unistd.h>

#include <cctype>

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
  if (!confirmation) return answer(kCFUserNotificationDefaultResponse);
  bool ok = options_.confirm == Confirm::Yes || ask_on_terminal();
  return answer(ok ? kCFUserNotificationDefaultResponse : kCFUserNotificationAlternateResponse);
}

bool CommandLinePresenter::ask_on_terminal() {
  if (!options_.in || !isatty(fileno(options_.in))) return false;
  std::fprintf(options_.out, "Continue? [y/N] ");
  std::fflush(options_.out);
  char buffer[64] = {};
  if (!std::fgets(buffer, sizeof buffer, options_.in)) return false;
  std::string reply(buffer);
  while (!reply.empty() && std::isspace(static_cast<unsigned char>(reply.back())))
    reply.pop_back();
  return reply == "y" || reply == "Y" || reply == "yes" || reply == "YES" || reply == "Yes";
}

}  // namespace orv::host
