// The terminal UI without a terminal: text layout, the page renderer's grid, the log view and the
// dialog boxes. The browser's reactions to keys are checked on the plugin's pages
// (host_browser_test).
#include <gmock/gmock.h>
#include <pty.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "host/cli_presenter.h"
#include "host/dialog_box.h"
#include "host/log_view.h"
#include "host/page_renderer.h"
#include "host/terminal_locale.h"
#include "host/text_grid.h"

namespace orv::host {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;

RowView row(RowKind kind, std::string title, std::string detail = {}, bool enabled = true) {
  RowView view;
  view.kind = kind;
  view.title = std::move(title);
  view.detail = std::move(detail);
  view.enabled = enabled;
  view.identity = view.title;
  return view;
}

TEST(HostTextTest, WrapsAtWordsAndMeasuresWideGlyphs) {
  EXPECT_EQ(wrap_words("the quick brown fox jumps", 10),
            (std::vector<std::string>{"the quick", "brown fox", "jumps"}));
  EXPECT_EQ(wrap_words("abcdefghijkl", 5), (std::vector<std::string>{"abcde", "fghij", "kl"}));
  EXPECT_EQ(wrap_words("one\ntwo", 20), (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(wrap_words("系统任务。请确认", 8),
            (std::vector<std::string>{"系统任", "务。请确", "认"}));
  EXPECT_EQ(display_width("漢字"), 4);
  EXPECT_EQ(display_width("e\xCC\x81"), 1);   // e + combining acute
  EXPECT_EQ(display_width("\U0001F680"), 2);  // emoji outside the old hand-made ranges
  EXPECT_EQ(display_width("\u303F"), 1);      // a neutral-width ideographic space
  // Bad bytes and control characters show as replacements instead of reaching the terminal.
  EXPECT_EQ(decode_utf8("a\xFF\x1B"), (std::vector<char32_t>{U'a', 0xFFFD, 0xFFFD}));
  EXPECT_EQ(printable("ok\x1B[2J\u009B1m"), "ok\uFFFD[2J\uFFFD1m");  // C0 and C1 controls

  TextGrid grid(6, 1);
  grid.put(4, 0, "漢字");  // a wide glyph that does not fit is left out, not split
  EXPECT_EQ(grid.row_text(0), "    漢");

  // A terminal without UTF-8 gets ASCII look-alikes; a language whose locale is not installed
  // is still drawn, through C.UTF-8.
  EXPECT_EQ(ascii_glyph("┌"), "+");
  EXPECT_EQ(ascii_glyph("›"), ">");
  EXPECT_EQ(ascii_glyph("漢"), "?");
  EXPECT_EQ(ascii_glyph("a"), "a");
  ::setenv("LC_ALL", "zz_ZZ.UTF-8", 1);
  EXPECT_TRUE(use_environment_locale());
  ::setenv("LC_ALL", "C", 1);
  EXPECT_FALSE(use_environment_locale());
  ::unsetenv("LC_ALL");
}

TEST(HostRendererTest, DrawsGroupsSwitchesLinksAndWrappedCells) {
  std::vector<RowView> rows = {row(RowKind::Group, "Options"), row(RowKind::Switch, "Show system"),
                               row(RowKind::Switch, "RunAtLoad", {}, false),
                               row(RowKind::Button, "Refresh"), row(RowKind::Group, "Jobs")};
  rows[0].footer = "Footer text of the options";
  rows[1].switch_on = false;
  rows[2].switch_on = true;
  RowView job = row(RowKind::Link, "com.example.web",
                    "A web server that answers on port eighty. Status:running");
  job.wrap_detail = true;
  rows.push_back(job);
  rows.push_back(row(RowKind::Text, "org.example.a-label-longer-than-the-screen-is-wide.daemon"));

  PageFrame frame{.title = "Orvane", .rows = &rows, .selected = 5, .status_right = "12:00:00"};
  auto page = render_page(frame, 40, 16);
  const TextGrid& grid = page.grid;
  // Details wrap at word boundaries over indented lines, and long titles wrap: nothing is cut.
  EXPECT_EQ(grid.text(), R"( Orvane
 Options
  Show system                    [off]
  RunAtLoad                      [ on]
  [ Refresh ]
  Footer text of the options

 Jobs
  com.example.web                    ›
    A web server that answers on port
    eighty. Status:running
  org.example.a-label-longer-than-the-
  screen-is-wide.daemon


                               12:00:00
)");
  EXPECT_EQ(grid.at(34, 2).attr.color, Color::Red);
  EXPECT_TRUE(grid.at(2, 3).attr.dim);  // disabled: dimmed
  EXPECT_FALSE(grid.at(2, 2).attr.dim);
  for (int y = 8; y <= 10; ++y) {
    EXPECT_TRUE(grid.at(1, y).attr.reverse) << y;  // the whole selected row
    EXPECT_EQ(page.row_at_line[static_cast<std::size_t>(y)], 5);
  }
  EXPECT_FALSE(grid.at(1, 2).attr.reverse);

  // On a wide terminal a switch's state stays within reach of its title.
  const std::string wide_switch = render_page(frame, 200, 16).grid.row_text(2);
  EXPECT_TRUE(wide_switch.ends_with("[off]"));
  EXPECT_LE(wide_switch.size(), 100u);
}

TEST(HostRendererTest, FiltersRowsAndScrollsTheSelectionIntoView) {
  std::vector<RowView> rows = {row(RowKind::Group, "Jobs")};
  for (int i = 0; i < 30; ++i)
    rows.push_back(row(RowKind::Link, "job." + std::to_string(i)));
  rows.push_back(row(RowKind::Group, "Other"));
  rows.push_back(row(RowKind::Text, "Nothing to see"));

  EXPECT_EQ(visible_rows(rows, "JOB.2"),
            (std::vector<int>{0, 3, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30}));
  EXPECT_EQ(visible_rows(rows, "nothing"), (std::vector<int>{31, 32}));
  PageFrame frame{.title = "Orvane", .rows = &rows, .filter = "zzz"};
  EXPECT_THAT(render_page(frame, 40, 10).grid.text(), HasSubstr("No rows match"));

  frame.filter.clear();
  frame.selected = 30;
  auto scrolled = render_page(frame, 40, 10);
  EXPECT_GT(scrolled.scroll_top, 0);
  EXPECT_THAT(scrolled.grid.text(), HasSubstr("job.29"));
}

// Scrolled up, the log stays where it is while lines come; G follows the newest again.
TEST(HostLogViewTest, ScrollingPausesTheFollowUntilG) {
  int next = 0;
  auto lines = [&next](int count) {
    LogPage page;
    for (int end = next + count; next < end; ++next)
      page.lines.push_back({{}, "out", "line " + std::to_string(next) + "."});
    page.cursor = std::to_string(next);
    return page;
  };
  int coming = 30;
  LogView view("org.example.job",
               [&](const std::string&) { return lines(std::exchange(coming, 0)); });
  EXPECT_THAT(view.draw(60, 12).text(), HasSubstr("line 29."));
  view.handle_key(Key::special(KeyCode::PageUp));
  const std::string paused = view.draw(60, 12).text();
  EXPECT_THAT(paused, HasSubstr("paused"));
  EXPECT_THAT(paused, Not(HasSubstr("line 29.")));
  coming = 5;
  EXPECT_TRUE(view.poll());
  auto above_status = [](const std::string& text) { return text.substr(0, text.rfind(" Up/")); };
  EXPECT_EQ(above_status(view.draw(60, 12).text()), above_status(paused));
  view.handle_key(Key::character('G'));
  EXPECT_THAT(view.draw(60, 12).text(), AllOf(HasSubstr("line 34."), HasSubstr("following")));
}

TEST(HostDialogTest, ButtonsFieldAndTimeOutAnswerAsThePlatformDoes) {
  DialogRequest request;
  request.header = "Stop it?";
  request.alternate_button = "CANCEL";
  DialogBox box(request);
  // A confirmation's focus starts on CANCEL: Enter alone changes nothing.
  EXPECT_EQ(box.handle_key(Key::special(KeyCode::Enter))->flags,
            kCFUserNotificationAlternateResponse);
  EXPECT_FALSE(box.handle_key(Key::special(KeyCode::Tab)));
  EXPECT_EQ(box.handle_key(Key::special(KeyCode::Enter))->flags,
            kCFUserNotificationDefaultResponse);
  EXPECT_EQ(box.timed_out().flags, kCFUserNotificationCancelResponse);

  request.text_field_titles = {""};
  DialogBox prompt(request);
  for (char32_t c : std::u32string(U"sav€d"))
    prompt.handle_key(Key::character(c));
  prompt.handle_key(Key::special(KeyCode::Backspace));
  prompt.handle_key(Key::character('d'));
  auto answer = prompt.handle_key(Key::special(KeyCode::Enter));
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->flags, kCFUserNotificationDefaultResponse);
  EXPECT_EQ(answer->text_field_values, (std::vector<std::string>{"sav€d"}));

  // On the command line a confirmation asked on a terminal closes itself at its time-out too.
  int terminal = -1, typist = -1;
  ASSERT_EQ(openpty(&typist, &terminal, nullptr, nullptr, nullptr), 0);
  std::FILE* in = fdopen(terminal, "r");
  std::FILE* out = std::tmpfile();
  CommandLinePresenter asker({.out = out, .in = in});
  request.text_field_titles.clear();
  request.timeout = 0.05;
  EXPECT_EQ(asker.present(request)->flags, kCFUserNotificationCancelResponse);
  ASSERT_EQ(::write(typist, "y\n", 2), 2);
  request.timeout = 60;
  EXPECT_EQ(asker.present(request)->flags, kCFUserNotificationDefaultResponse);
  std::fclose(in);
  std::fclose(out);
  ::close(typist);
}

}  // namespace
}  // namespace orv::host
