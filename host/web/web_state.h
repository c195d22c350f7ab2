// What the page thread and the HTTP threads share: the page as JSON, the open dialog and its
// answer, whether an action is under way, and a version that changes with any of them. The
// page thread writes; HTTP threads read, wait for changes, and hand in a dialog's answer
// directly, since the page thread is blocked inside the dialog until it comes. A reader that
// names the page version it has gets the page's changes since then rather than the whole page
// (a list of thousands of rows changes by a few at a time).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace orv::host::web {

struct DialogAnswer {
  int button = -1;  // index into the dialog's buttons; -1: dismissed
  std::string text;
};

// A page as JSON: its head (an object holding everything but the rows) and its rows.
struct PageJson {
  std::string head;
  std::vector<std::string> rows;
  bool operator==(const PageJson&) const = default;
};

struct StateSnapshot {
  std::uint64_t version = 0;
  std::uint64_t page_version = 0;
  // {"version", "page_version", "busy", "dialog": {..}|null} and either "page": the whole page
  // (the head with "rows"), null when the reader already has this page_version, or "patch":
  // {"from", "head", "steps"}, where steps[i] turns the rows of page version from + i into
  // those of the next (see row_patch).
  std::string json;
};

class WebState {
 public:
  using Clock = std::chrono::steady_clock;

  // The page thread. A page equal to the one shown changes nothing. `log_label` names the job
  // whose page it is, or is empty.
  void set_page(PageJson page, std::string log_label = {});
  // Shows a dialog (its JSON without the id) and returns its id.
  std::uint64_t open_dialog(const std::string& json);
  // Waits for the answer to dialog `id` until the deadline; nullopt when none came or the
  // host is closing.
  std::optional<DialogAnswer> wait_answer(std::uint64_t id, Clock::time_point deadline);
  void close_dialog();

  // HTTP threads. An action begins only when no other one is under way.
  bool begin_action();
  void end_action();
  // Hands in the answer to the open dialog `id`; false when that dialog is not open.
  bool answer(std::uint64_t id, DialogAnswer answer);
  // `known_page`: the page version the reader has, 0 for none.
  StateSnapshot snapshot(std::uint64_t known_page = 0) const;
  // The job whose page is shown, for the log the page asks for; "" on any other page.
  std::string log_label() const;
  // The state once it differs from version `since`, or as it is when `wait` passes first.
  StateSnapshot wait_changed(std::uint64_t since, std::uint64_t known_page,
                             Clock::duration wait) const;
  // The state once no action is under way or a dialog other than `answered` waits for its
  // answer, or as it is when `wait` passes first.
  StateSnapshot wait_settled(std::uint64_t answered, Clock::duration wait,
                             std::uint64_t known_page = 0) const;

  // The host is closing: every wait ends now.
  void close();
  bool closed() const;

 private:
  StateSnapshot snapshot_locked(std::uint64_t known_page = 0) const;
  const std::string& whole_page_locked() const;
  // "page" or "patch" for a reader that has page version `known_page`.
  std::string page_field_locked(std::uint64_t known_page) const;
  void changed_locked();

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::uint64_t version_ = 1;
  PageJson page_{"{}", {}};
  mutable std::string whole_page_;  // the page with its rows; empty until a reader needs it
  std::uint64_t page_version_ = 1;  // changes only when the page does; 0: none known
  // The steps from each of the last page versions to the next, the newest last.
  std::deque<std::string> steps_;
  std::string log_label_;
  std::string dialog_;  // empty: none open
  std::uint64_t dialog_id_ = 0;
  std::uint64_t dialogs_ = 0;
  std::optional<DialogAnswer> answer_;
  bool busy_ = false;
  bool closed_ = false;
};

}  // namespace orv::host::web
