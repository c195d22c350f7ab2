// A dialog presenter for tests: it records every dialog it is asked to show and answers from a
// script, one scripted answer per dialog, in order. With the script used up it answers as a
// dialog left alone until its time-out does (the cancel response).
#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/user_notification.h"

namespace orv::test {

class ScriptedPresenter : public orv::DialogPresenter {
 public:
  // The next dialog: answered with the default button, with "CANCEL" (alternate), with the
  // default button and field 0 = value, closed by itself (cancel response), or not shown at all
  // (nullopt; not recorded in shown()).
  ScriptedPresenter& ok() { return push(DialogResponse{kCFUserNotificationDefaultResponse, {}}); }
  ScriptedPresenter& cancel() {
    return push(DialogResponse{kCFUserNotificationAlternateResponse, {}});
  }
  ScriptedPresenter& text(std::string value) {
    return push(DialogResponse{kCFUserNotificationDefaultResponse, {std::move(value)}});
  }
  ScriptedPresenter& time_out() {
    return push(DialogResponse{kCFUserNotificationCancelResponse, {}});
  }
  ScriptedPresenter& fail() { return push(std::nullopt); }

  // Every dialog shown so far, in order (a copy: dialogs may be shown on another thread).
  std::vector<orv::DialogRequest> shown() const {
    std::lock_guard lock(mutex_);
    return shown_;
  }
  orv::DialogRequest last_shown() const {
    std::lock_guard lock(mutex_);
    return shown_.empty() ? orv::DialogRequest{} : shown_.back();
  }

  std::optional<orv::DialogResponse> present(const orv::DialogRequest& request) override {
    std::lock_guard lock(mutex_);
    if (script_.empty()) {
      shown_.push_back(request);
      return orv::DialogResponse{orv::kCFUserNotificationCancelResponse, {}};
    }
    auto answer = std::move(script_.front());
    script_.pop_front();
    if (answer) shown_.push_back(request);  // a dialog that could not be shown was never seen
    return answer;
  }

 private:
  ScriptedPresenter& push(std::optional<orv::DialogResponse> answer) {
    std::lock_guard lock(mutex_);
    script_.push_back(std::move(answer));
    return *this;
  }

  mutable std::mutex mutex_;
  std::deque<std::optional<orv::DialogResponse>> script_;
  std::vector<orv::DialogRequest> shown_;
};

// Installs a ScriptedPresenter for the current scope and restores the previous presenter after.
class ScopedPresenter {
 public:
  ScopedPresenter() { orv::set_dialog_presenter(presenter_); }
  ~ScopedPresenter() { orv::set_dialog_presenter(previous_); }
  ScopedPresenter(const ScopedPresenter&) = delete;
  ScopedPresenter& operator=(const ScopedPresenter&) = delete;

  ScriptedPresenter* operator->() { return presenter_.get(); }

 private:
  std::shared_ptr<ScriptedPresenter> presenter_ = std::make_shared<ScriptedPresenter>();
  std::shared_ptr<orv::DialogPresenter> previous_ = orv::dialog_presenter();
};

}  // namespace orv::test
