// The terminal UI's browser on the plugin's real pages: keys in, screens out as text, against a
// scripted control service, with the list's refresh timer on a virtual clock.
#include <gmock/gmock.h>

#include <memory>
#include <string>

#include "host/browser.h"
#include "host/service_trouble.h"
#include "list/root_list_controller.h"
#include "tests/list_pages_fixture.h"

namespace orv::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

using host::Browser;
using host::Key;
using host::KeyCode;
using host::TextGrid;

constexpr int kWidth = 80;
constexpr int kHeight = 24;

class HostBrowserPagesTest : public PagesTest {
 protected:
  void SetUp() override {
    PagesTest::SetUp();
    service->set_daemons({job("com.example.web", {{"Pid", Value(42)}}),
                          job("com.example.idle", {{"Pid", Value(-1)}})});
    browser = std::make_unique<Browser>(
        open<OrvaneRootListController>(OrvaneRootListController::kClassName), "Orvane",
        host::BrowserContext{.now_text = [this] { return now; },
                             .service_trouble = host::control_service_trouble});
    screen = browser->draw(kWidth, kHeight);
  }

  void keys(std::string_view typed) {
    for (char c : typed)
      browser->handle_key(Key::character(static_cast<char32_t>(c)));
    screen = browser->draw(kWidth, kHeight);
  }
  void press(KeyCode code) {
    browser->handle_key(Key::special(code));
    screen = browser->draw(kWidth, kHeight);
  }
  std::string line(int y) const { return screen.row_text(y); }
  std::string status() const { return line(kHeight - 1); }
  // The first line holding `text`, or -1.
  int line_with(std::string_view text) const {
    for (int y = 0; y < kHeight; ++y)
      if (line(y).find(text) != std::string::npos) return y;
    return -1;
  }

  std::string now = "10:00:00";
  std::unique_ptr<Browser> browser;
  TextGrid screen{1, 1};
};

// A job's state word is coloured by its record; the bars count the jobs and say how fresh the
// rows are; start and stop from the list go through the job's page and say what became of
// them; the list is rebuilt after each, and the filter outlives a visit to a job's page.
TEST_F(HostBrowserPagesTest, ActionsSayWhatHappenedAndTheListFollowsThem) {
  int web = line_with("com.example.web");
  ASSERT_GT(web, 0) << screen.text();
  std::size_t word = line(web).rfind("running");
  ASSERT_NE(word, std::string::npos) << screen.text();
  EXPECT_EQ(screen.at(static_cast<int>(word), web).attr.color, host::Color::Green);
  EXPECT_THAT(line(0), HasSubstr("2 jobs"));
  EXPECT_THAT(status(), HasSubstr("updated 10:00:00"));

  keys("/idle");
  press(KeyCode::Enter);
  EXPECT_THAT(line(0), HasSubstr("1/1 job"));
  service->set_daemons(
      {job("com.example.web", {{"Pid", Value(42)}}), job("com.example.idle", {{"Pid", Value(7)}})});
  now = "10:00:03";
  keys("s");
  EXPECT_THAT(status(), HasSubstr("com.example.idle running"));
  EXPECT_THAT(status(), HasSubstr("updated 10:00:03"));

  service->set_status("startOne", -1);
  keys("x");
  EXPECT_THAT(status(),
              HasSubstr("com.example.idle is still running: the service refused or failed"));
  keys("s");
  EXPECT_THAT(status(), HasSubstr("already running"));

  press(KeyCode::Enter);
  now = "10:00:09";
  EXPECT_THAT(line(0), HasSubstr("Orvane › com.example.idle"));
  EXPECT_THAT(status(), HasSubstr("read 10:00:03"));
  keys("x");  // refused again; coming back after it rebuilds the list
  press(KeyCode::Escape);
  EXPECT_EQ(browser->filter(), "idle");
  EXPECT_THAT(status(), HasSubstr("updated 10:00:09"));

  service->clear_requests();
  keys("r");
  EXPECT_EQ(request_names(), (std::vector<std::string>{"listAll"}));
  keys("a");
  EXPECT_THAT(status(), HasSubstr(": on"));

  // A settings file that cannot be read or written over (here a folder in its place) leaves the
  // defaults (system jobs hidden) and the switch working for this run, and the status line says
  // that the choice was not saved.
  const std::filesystem::path settings = root().real(kSettingsFile);
  std::filesystem::remove(settings);
  std::filesystem::create_directory(settings);
  keys("a");
  EXPECT_THAT(status(), HasSubstr(": on (not saved: "));
  std::filesystem::remove(settings);
}

// Keys act only on a page that was seen and on rows that can act: a switch flips and reads
// back, a disabled one says why not, a button acts, a click selects before it acts; the
// selection follows its row through rebuilds, and Ctrl-C quits even while a filter is typed.
TEST_F(HostBrowserPagesTest, KeysActOnlyOnWhatWasSeenAndTheSelectionFollowsItsRow) {
  const bool shown = browser->rows()[1].switch_on.value_or(false);
  keys(" ");  // the first row that can be selected: the show-system switch, read back
  EXPECT_EQ(browser->rows()[1].switch_on, !shown);

  keys("G");
  service->set_daemons({job("com.example.idle"), job("com.example.new"), job("com.example.web")});
  keys("r");
  EXPECT_EQ(browser->rows()[static_cast<std::size_t>(browser->selected())].title,
            "com.example.idle");
  service->set_daemons({job("com.example.web", {{"Pid", Value(42)}})});
  keys("r");  // the selected row is gone: the selection stays near its place
  EXPECT_EQ(browser->rows()[static_cast<std::size_t>(browser->selected())].title,
            "com.example.web");

  service->clear_requests();
  browser->handle_key(Key::special(KeyCode::Enter));  // opens the job with "Alive" selected...
  browser->handle_key(
      Key::special(KeyCode::Enter));  // ...which this key, typed ahead, must not flip
  EXPECT_EQ(browser->depth(), 2u);
  EXPECT_TRUE(service->requests_named("startOne").empty());
  screen = browser->draw(kWidth, kHeight);
  keys("j");
  press(KeyCode::Enter);
  EXPECT_THAT(status(), HasSubstr("\"RunAtLoad\" cannot be changed"));
  keys("k");
  press(KeyCode::Enter);
  EXPECT_EQ(service->requests_named("startOne").size(), 1u);

  keys("h");
  service->clear_requests();
  const int refresh = line_with("Refresh");
  browser->handle_key(Key::click(4, refresh));
  EXPECT_TRUE(service->requests().empty()) << "a first click only selects";
  browser->handle_key(Key::click(4, refresh));
  EXPECT_EQ(request_names(), (std::vector<std::string>{"listAll"}));

  keys("/");
  browser->handle_key(Key::character(0x03));
  EXPECT_TRUE(browser->quit_requested());
}

// A list at 80x24 shows at least twelve jobs; at 40x12 still one, and the way to the help.
TEST_F(HostBrowserPagesTest, SmallTerminalsStillShowJobsAndTheHelpKey) {
  Array many;
  for (int i = 10; i < 30; ++i)
    many.push_back(job("org.example.job" + std::to_string(i), {{"Pid", Value(i)}}));
  service->set_daemons(many);
  keys("r");
  EXPECT_THAT(screen.text(), HasSubstr("org.example.job21"));  // the twelfth

  screen = browser->draw(40, 12);
  EXPECT_THAT(screen.text(), HasSubstr("org.example.job10"));
  EXPECT_THAT(screen.row_text(11), HasSubstr("? help")) << screen.text();

  // The help does not fit there: it scrolls down to its last line, and any other key closes it.
  browser->handle_key(Key::character('?'));
  EXPECT_THAT(browser->draw(40, 12).text(), HasSubstr("Keys"));
  for (int i = 0; i < 40; ++i)
    browser->handle_key(Key::special(KeyCode::Down));
  EXPECT_THAT(browser->draw(40, 12).text(), HasSubstr("Any other key closes"));
  browser->handle_key(Key::character('z'));
  EXPECT_THAT(browser->draw(40, 12).text(), Not(HasSubstr("Keys")));

  // The host's own texts speak the pages' language.
  ::setenv("LANGUAGE", "zh", 1);
  EXPECT_THAT(browser->draw(40, 12).row_text(11), HasSubstr("? 帮助"));
  ::unsetenv("LANGUAGE");
}

// A service that stops answering leaves the last list on screen, marked as stale with since
// when and why; a flip meanwhile says why it did not happen; the list recovers by itself.
TEST_F(HostBrowserPagesTest, ADeadServiceLeavesTheLastListMarkedAsStale) {
  service.reset();
  now = "10:00:10";
  RunLoop::main().advance(Duration(10));
  screen = browser->draw(kWidth, kHeight);
  EXPECT_THAT(screen.text(), HasSubstr("com.example.web"));
  EXPECT_THAT(status(), HasSubstr("STALE: no answer since 10:00:10 (not running)"));

  keys("G");
  keys("s");
  EXPECT_THAT(status(), HasSubstr("idle is still stopped: no answer from the control service"));

  service = std::make_unique<ScriptedService>();
  service->set_daemons({job("com.example.new", {{"Pid", Value(3)}})});
  now = "10:00:20";
  RunLoop::main().advance(Duration(10));
  keys("k");
  EXPECT_THAT(screen.text(), HasSubstr("com.example.new"));
  EXPECT_THAT(screen.text(), Not(HasSubstr("com.example.web")));
  EXPECT_THAT(status(), HasSubstr("updated 10:00:20"));
}

}  // namespace
}  // namespace orv::test
