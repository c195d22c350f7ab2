// Dialogs in command mode: every dialog becomes one line on standard error and is answered
// from the command's arguments, so a script can drive the pages without a terminal.
//   alert:  "alert: <header>" (+ " | <message>"); a confirmation (an alert with a second
//           button) is answered OK with --yes, by asking when stdin is a terminal (a question
//           left unanswered for the dialog's time-out closes as the pages' alerts do), else
//           CANCEL
//   prompt: "prompt: <message>", answered with the NAME argument
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "platform/ui/user_notification.h"

namespace orv::host {

class CommandLinePresenter : public DialogPresenter {
 public:
  enum class Confirm { Yes, AskIfTerminal };

  struct Options {
    Confirm confirm = Confirm::AskIfTerminal;
    std::string prompt_answer{};
    std::FILE* out = stderr;
    std::FILE* in = stdin;
  };

  explicit CommandLinePresenter(Options options) : options_(std::move(options)) {}

  std::optional<DialogResponse> present(const DialogRequest& request) override;

  // The headers of the alerts shown, in order, answered prompts as "" entries; the caller
  // reads the outcome of an export or import from them.
  struct Shown {
    bool prompt = false;
    bool confirmation = false;
    std::string header;
  };
  const std::vector<Shown>& shown() const { return shown_; }

 private:
  DialogResponse ask_on_terminal(double timeout_seconds);

  Options options_;
  std::vector<Shown> shown_;
};

}  // namespace orv::host
