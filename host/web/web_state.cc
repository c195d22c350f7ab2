#include "host/web/web_state.h"

#include <utility>

namespace orv::host::web {

void WebState::changed_locked() {
  ++version_;
  changed_.notify_all();
}

void WebState::set_page(std::string json, std::string log_label) {
  std::lock_guard lock(mutex_);
  log_label_ = std::move(log_label);
  if (json == page_) return;
  page_ = std::move(json);
  ++page_version_;
  changed_locked();
}

std::uint64_t WebState::open_dialog(const std::string& json) {
  std::lock_guard lock(mutex_);
  dialog_id_ = ++dialogs_;
  // The dialog's JSON is an object; its id goes first.
  dialog_ = "{\"id\":" + std::to_string(dialog_id_) + (json.size() > 2 ? "," : "") + json.substr(1);
  answer_.reset();
  changed_locked();
  return dialog_id_;
}

std::optional<DialogAnswer> WebState::wait_answer(std::uint64_t id, Clock::time_point deadline) {
  std::unique_lock lock(mutex_);
  changed_.wait_until(lock, deadline, [&] { return closed_ || (answer_ && dialog_id_ == id); });
  if (closed_ || !answer_ || dialog_id_ != id) return std::nullopt;
  return std::exchange(answer_, std::nullopt);
}

void WebState::close_dialog() {
  std::lock_guard lock(mutex_);
  dialog_.clear();
  dialog_id_ = 0;
  answer_.reset();
  changed_locked();
}

bool WebState::begin_action() {
  std::lock_guard lock(mutex_);
  if (busy_ || closed_ || dialog_id_ != 0) return false;
  busy_ = true;
  changed_locked();
  return true;
}

void WebState::end_action() {
  std::lock_guard lock(mutex_);
  busy_ = false;
  changed_locked();
}

bool WebState::answer(std::uint64_t id, DialogAnswer answer) {
  std::lock_guard lock(mutex_);
  if (id == 0 || dialog_id_ != id || answer_) return false;
  answer_ = std::move(answer);
  changed_.notify_all();
  return true;
}

StateSnapshot WebState::snapshot_locked(std::uint64_t known_page) const {
  std::string json = "{\"version\":" + std::to_string(version_) +
                     ",\"page_version\":" + std::to_string(page_version_) +
                     ",\"busy\":" + (busy_ ? "true" : "false") + ",\"page\":";
  json += known_page == page_version_ ? "null" : page_;
  json += ",\"dialog\":" + (dialog_.empty() ? std::string("null") : dialog_) + "}";
  return {version_, page_version_, std::move(json)};
}

StateSnapshot WebState::snapshot(std::uint64_t known_page) const {
  std::lock_guard lock(mutex_);
  return snapshot_locked(known_page);
}

StateSnapshot WebState::wait_changed(std::uint64_t since, std::uint64_t known_page,
                                     Clock::duration wait) const {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, wait, [&] { return closed_ || version_ != since; });
  return snapshot_locked(known_page);
}

StateSnapshot WebState::wait_settled(std::uint64_t answered, Clock::duration wait) const {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, wait, [&] {
    return closed_ || !busy_ || (dialog_id_ != 0 && dialog_id_ != answered && !answer_);
  });
  return snapshot_locked();
}

std::string WebState::log_label() const {
  std::lock_guard lock(mutex_);
  return log_label_;
}

void WebState::close() {
  std::lock_guard lock(mutex_);
  closed_ = true;
  changed_.notify_all();
}

bool WebState::closed() const {
  std::lock_guard lock(mutex_);
  return closed_;
}

}  // namespace orv::host::web
