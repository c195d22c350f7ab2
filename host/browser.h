// The interactive host's state: the stack of open pages, the selection, scroll position and
// filter of each, the help screen. Keys act on the page objects (open a page, flip a switch,
// press a button); drawing goes through the pure page renderer. No terminal here.
//
// Nothing acts on what the user has not seen: a page that was opened or returned to takes no
// keys until it has been drawn (keys typed ahead of it are dropped), and a mouse click only
// selects a row unless that row was already selected.
//
// State is shown as it is: after each flip the status line says what became of it; when the
// control service does not answer, the last list stays on screen marked as stale, with since
// when and why; a job page says when its record was read. On a job page, L opens the job's log
// over it until the log view is closed.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/key.h"
#include "host/log_view.h"
#include "host/page_renderer.h"
#include "host/row_view.h"
#include "platform/ui/list_controller.h"

namespace orv::host {

// The local time of day as "HH:MM:SS".
std::string local_clock_text();

struct BrowserContext {
  // The time of day as "HH:MM:SS", for what the bars say about freshness.
  std::function<std::string()> now_text;
  // Called whenever something the screen shows changed outside a key press (a page rebuilt
  // itself).
  std::function<void()> changed = {};
  // Why the control service left the latest request unanswered ("not running", "refused",
  // "timed out", ...), or nullopt when it answered.
  std::function<std::optional<std::string>()> service_trouble = {};
  // A job's log lines after a cursor, for the log view; without it the view does not open.
  std::function<tl::expected<LogPage, LogFailure>(const std::string& label,
                                                  const std::string& after)>
      fetch_log = {};
};

class Browser {
 public:
  Browser(ListControllerPtr root, std::string title, BrowserContext context);
  ~Browser();
  Browser(const Browser&) = delete;
  Browser& operator=(const Browser&) = delete;

  void handle_key(const Key& key);
  TextGrid draw(int width, int height);
  // The screen while a request to the control service keeps the UI waiting: the page as it
  // stands, with a status bar that says so and how to quit.
  TextGrid draw_waiting_for_service(int width, int height);
  // A confirmation the current action asked was answered with anything but OK.
  void confirmation_declined() { declined_ = true; }
  // The keys of an open dialog, for the status bar under it.
  TextGrid draw_under_dialog(int width, int height, const std::string& dialog_keys);

  // For a host that points at rows rather than moving a selection (the web page): acts on the
  // first row of this kind and identity, as Enter on it would, provided the page on top is the
  // one at `depth` (1: the list). False, acting on nothing, when the user saw another page.
  bool act_on(std::size_t depth, RowKind kind, const std::string& identity);
  // Closes the pages above `depth` (the list stays open).
  void back_to(std::size_t depth);
  std::vector<std::string> titles() const;
  // What the last action came to, and when the rows were read (or that they are stale).
  const std::string& message() const { return message_; }
  std::string freshness() const { return status_right(); }

  // Whether the page on top has not been drawn since it appeared: keys typed meanwhile were
  // meant for another screen.
  bool page_unseen() const { return page_unseen_; }
  bool quit_requested() const { return quit_; }
  // Asks an open log view for new lines; true when the screen changed.
  bool poll_log() { return log_ && log_->poll(); }
  bool log_open() const { return log_ != nullptr; }
  std::size_t depth() const { return stack_.size(); }
  const std::vector<RowView>& rows() const { return stack_.back().rows; }
  int selected() const { return stack_.back().selected; }
  const std::string& filter() const { return stack_.back().filter; }

 private:
  struct OpenPage {
    ListControllerPtr page;
    std::string title;
    std::vector<RowView> rows{};
    int selected = -1;
    int scroll_top = 0;
    std::string filter{};
    std::string read_at{};  // when its rows last came from an answered build
    bool has_rows = false;
    bool acted = false;            // a switch was flipped or a button pressed on it
    std::uint64_t generation = 0;  // changes whenever its rows are replaced
  };

  void push(ListControllerPtr page, std::string title);
  void pop();
  void page_rebuilt(ListController& page);
  void take_rows(OpenPage& open);
  void refresh_rows(OpenPage& open);
  void activate(bool flip_only);
  void open_link(const RowView& row);
  void press(const SpecifierPtr& row, const ListControllerPtr& page);
  void flip(const SpecifierPtr& row, const ListControllerPtr& page, bool wanted,
            const std::string& subject);
  std::string flip_outcome(const std::string& subject, bool job, bool wanted, bool now) const;
  void rebuild_if_open(const ListControllerPtr& page, bool rebuild = true);
  void flip_job(bool start);
  void flip_show_system();
  bool open_log();
  void press_refresh();
  void move_selection(int steps);
  void select_edge(bool last);
  bool handle_filter_key(const Key& key);
  bool handle_action_key(char32_t ch);
  void scroll_help(const Key& key);
  void click(int y);
  std::vector<int> selectable_visible() const;
  std::string breadcrumb() const;
  std::string title_right() const;
  std::string status_right() const;
  std::string key_hints() const;
  TextGrid render(int width, int height, std::string status, bool message = false);

  std::vector<OpenPage> stack_;
  BrowserContext context_;
  std::string last_rebuild_;
  std::optional<std::string> trouble_;  // why the service did not answer; nullopt when it did
  std::string trouble_since_;
  bool editing_filter_ = false;
  bool help_ = false;
  int help_top_ = 0;
  bool quit_ = false;
  bool page_unseen_ = true;
  bool declined_ = false;
  bool rebuilt_ = false;  // a page rebuilt itself during the current action
  std::string message_;
  int body_height_ = 20;
  std::vector<int> row_at_line_;
  // The body last laid out, and what it was laid out for.
  struct LayoutKey {
    const ListController* page = nullptr;
    std::uint64_t generation = 0;
    std::string filter{};
    int width = 0;
    friend bool operator==(const LayoutKey&, const LayoutKey&) = default;
  };
  LayoutKey layout_key_;
  std::uint64_t generations_ = 0;
  std::shared_ptr<const BodyLayout> layout_;
  std::unique_ptr<LogView> log_;  // over the page while open
};

}  // namespace orv::host
