#include "tests/support/scripted_presenter.h"

namespace orv::test {

ScriptedPresenter& ScriptedPresenter::push(std::optional<orv::DialogResponse> answer) {
  std::lock_guard lock(mutex_);
  script_.push_back(std::move(answer));
  return *this;
}

std::vector<orv::DialogRequest> ScriptedPresenter::shown() const {
  std::lock_guard lock(mutex_);
  return shown_;
}

orv::DialogRequest ScriptedPresenter::last_shown() const {
  std::lock_guard lock(mutex_);
  return shown_.empty() ? orv::DialogRequest{} : shown_.back();
}

std::optional<orv::DialogResponse> ScriptedPresenter::present(const orv::DialogRequest& request) {
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

ScopedPresenter::ScopedPresenter()
    : presenter_(std::make_shared<ScriptedPresenter>()), previous_(orv::dialog_presenter()) {
  orv::set_dialog_presenter(presenter_);
}

ScopedPresenter::~ScopedPresenter() {
  orv::set_dialog_presenter(previous_);
}

}  // namespace orv::test
