#include "host/web/web_state.h"

#include <numeric>
#include <utility>

#include "host/web/row_patch.h"

namespace orv::host::web {

namespace {

// Enough for the page versions a reader may lag behind while a request is on its way.
constexpr std::size_t kKeptSteps = 8;

// The JSON object `object` with the member `member` ("\"name\":value") put first.
std::string with_member_first(const std::string& member, const std::string& object) {
  return "{" + member + (object.size() > 2 ? "," : "") + object.substr(1);
}

// The length of the rows as one JSON array.
std::size_t rows_size(const std::vector<std::string>& rows) {
  return std::accumulate(rows.begin(), rows.end(), rows.size() + 1,
                         [](std::size_t sum, const std::string& row) { return sum + row.size(); });
}

}  // namespace

void WebState::changed_locked() {
  ++version_;
  changed_.notify_all();
}

// Only the page thread changes the page, so it reads page_ without the lock.
void WebState::set_page(PageJson page, std::string log_label) {
  if (page == page_) {
    std::lock_guard lock(mutex_);
    log_label_ = std::move(log_label);
    return;
  }
  std::string steps = row_patch(page_.rows, page.rows);
  std::lock_guard lock(mutex_);
  log_label_ = std::move(log_label);
  page_ = std::move(page);
  whole_page_.clear();
  steps_.push_back(std::move(steps));
  if (steps_.size() > kKeptSteps) steps_.pop_front();
  ++page_version_;
  changed_locked();
}

std::uint64_t WebState::open_dialog(const std::string& json) {
  std::lock_guard lock(mutex_);
  dialog_id_ = ++dialogs_;
  dialog_ = with_member_first("\"id\":" + std::to_string(dialog_id_), json);
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

// Made when a reader first needs it: most readers get the steps.
const std::string& WebState::whole_page_locked() const {
  if (whole_page_.empty()) {
    std::string rows = "[";
    for (const auto& row : page_.rows)
      rows.append(rows.size() > 1 ? "," : "").append(row);
    whole_page_ = with_member_first("\"rows\":" + rows + "]", page_.head);
  }
  return whole_page_;
}

// The changes since the reader's page when they are kept and shorter than the page itself.
std::string WebState::page_field_locked(std::uint64_t known_page) const {
  if (known_page == page_version_) return "\"page\":null";
  std::uint64_t behind = page_version_ - known_page;
  if (known_page == 0 || known_page > page_version_ || behind > steps_.size())
    return "\"page\":" + whole_page_locked();
  auto first = steps_.end() - static_cast<std::ptrdiff_t>(behind);
  std::size_t size =
      std::accumulate(first, steps_.end(), std::size_t{0},
                      [](std::size_t sum, const std::string& s) { return sum + s.size(); });
  if (size >= rows_size(page_.rows)) return "\"page\":" + whole_page_locked();
  std::string steps;
  for (auto step = first; step != steps_.end(); ++step)
    steps.append(steps.empty() ? "" : ",").append(*step);
  return "\"patch\":{\"from\":" + std::to_string(known_page) + ",\"head\":" + page_.head +
         ",\"steps\":[" + steps + "]}";
}

StateSnapshot WebState::snapshot_locked(std::uint64_t known_page) const {
  std::string json = "{\"version\":" + std::to_string(version_) +
                     ",\"page_version\":" + std::to_string(page_version_) +
                     ",\"busy\":" + (busy_ ? "true" : "false") + "," +
                     page_field_locked(known_page);
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

StateSnapshot WebState::wait_settled(std::uint64_t answered, Clock::duration wait,
                                     std::uint64_t known_page) const {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, wait, [&] {
    return closed_ || !busy_ || (dialog_id_ != 0 && dialog_id_ != answered && !answer_);
  });
  return snapshot_locked(known_page);
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
