// The interactive host's state: the stack of open pages, the selection and scroll position of
// each, the filter, the help screen. Keys act on the page objects (open a page, flip a switch,
// press a button); drawing goes through the pure page renderer. No terminal here.
//
// Nothing acts on what the user has not seen: a page that was opened or returned to takes no
// keys until it has been drawn (keys typed ahead of it are dropped), and a mouse click only
// selects a row unless that row was already selected.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "host/key.h"
#include "host/page_renderer.h"
#include "host/row_view.h"
#include "platform/ui/list_controller.h"

namespace orv::host {

class Browser {
 public:
  // `now_text` gives the time shown as the last rebuild ("HH:MM:SS"); `changed` is called
  // whenever something the screen shows changed outside a key press (a page rebuilt itself).
  Browser(ListControllerPtr root, std::string title, std::function<std::string()> now_text,
          std::function<void()> changed = {});
  ~Browser();
  Browser(const Browser&) = delete;
  Browser& operator=(const Browser&) = delete;

  void handle_key(const Key& key);
  TextGrid draw(int width, int height);
  // The screen while a request to the control service keeps the UI waiting: the page as it
  // stands, with a status bar that says so and how to quit.
  TextGrid draw_waiting_for_service(int width, int height);

  // Whether the page on top has not been drawn since it appeared: keys typed meanwhile were
  // meant for another screen.
  bool page_unseen() const { return page_unseen_; }
  bool quit_requested() const { return quit_; }
  std::size_t depth() const { return stack_.size(); }
  const std::vector<RowView>& rows() const { return stack_.back().rows; }
  int selected() const { return stack_.back().selected; }
  const std::string& filter() const { return filter_; }

 private:
  struct OpenPage {
    ListControllerPtr page;
    std::string title;
    std::vector<RowView> rows;
    int selected = -1;
    int scroll_top = 0;
  };

  void push(ListControllerPtr page, std::string title);
  void pop();
  void page_rebuilt(ListController& page);
  void refresh_rows(OpenPage& open);
  void activate(bool flip_only);
  void move_selection(int steps);
  void select_edge(bool last);
  bool handle_filter_key(const Key& key);
  void click(int y);
  std::vector<int> selectable_visible() const;
  std::string breadcrumb() const;
  TextGrid render(int width, int height, std::string status);

  std::vector<OpenPage> stack_;
  std::function<std::string()> now_text_;
  std::function<void()> changed_;
  std::string last_rebuild_;
  std::string filter_;
  bool editing_filter_ = false;
  bool help_ = false;
  bool quit_ = false;
  bool page_unseen_ = true;
  std::string message_;
  int body_height_ = 20;
  std::vector<int> row_at_line_;
};

}  // namespace orv::host
