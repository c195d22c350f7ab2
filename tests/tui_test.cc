// The terminal UI in a real terminal: orvane runs inside a detached tmux session against a real
// orvaned; the test types keys and reads the screen with capture-pane.
#include <gmock/gmock.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "tests/host_process.h"
#include "tests/orvaned_fixture.h"
#include "tests/support/scripted_service.h"

namespace orv::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

const std::string kTmux = "/usr/bin/tmux";

// One tmux server of its own per session, so nothing else's sessions or config interfere.
class Tmux {
 public:
  Tmux(const std::string& command, int width, int height)
      : socket_("orvane-tui-" + std::to_string(getpid())) {
    run({"-f", "/dev/null", "new-session", "-d", "-s", "ui", "-x", std::to_string(width), "-y",
         std::to_string(height), command});
  }
  ~Tmux() { run({"kill-server"}); }

  ProcessResult run(std::vector<std::string> args) {
    args.insert(args.begin(), {kTmux, "-L", socket_});
    return run_process(args);
  }
  void keys(std::vector<std::string> keys) {
    keys.insert(keys.begin(), {"send-keys", "-t", "ui"});
    run(keys);
  }
  std::string screen() { return run({"capture-pane", "-p", "-t", "ui"}).out; }

  // Polls the screen until `ready` holds, up to a deadline; the last screen is kept for
  // failure messages.
  template <class Ready>
  bool wait_for(Ready ready) {
    return eventually([&] { return ready(last = screen()); }, std::chrono::seconds(15));
  }
  bool wait_for_text(const std::string& text) {
    return wait_for([&](const std::string& s) { return s.find(text) != std::string::npos; });
  }

  std::string last;

 private:
  std::string socket_;
};

// The host against a real orvaned, on one root that holds the jobs and the staged bundle.
class TuiTest : public OrvanedTest {
 protected:
  void SetUp() override {
    if (::access(kTmux.c_str(), X_OK) != 0) GTEST_SKIP() << "tmux is not installed";
    link_staged_bundle(root_);
    write_other_job(kHelper, {{"ProgramArguments", sleeper()}, {"RunAtLoad", true}});
    write_other_job(
        kWebcache,
        {{"ProgramArguments",
          Array{"/bin/sh", "-c", "echo cache ready; echo cache warm >&2; exec sleep 100000"}},
         {"RunAtLoad", true}});
    start_daemon();
  }
  std::string host_command() const {
    return "env ORVANE_ROOT='" + root_.path().string() + "' ORVANE_RUNTIME_DIR='" +
           run_dir().string() + "' ORVANE_IPC_TIMEOUT_MS=" + std::to_string(kIpcTimeoutMs) +
           " LANG=C.UTF-8 " ORVANE_BINARY_DIR "/bin/orvane";
  }

  static constexpr const char* kHelper = "com.apple.test.helper";  // asks before a stop
  static constexpr const char* kWebcache = "org.example.webcache";
  static constexpr int kIpcTimeoutMs = 20'000;
};

TEST_F(TuiTest, AsksBeforeAStopFollowsResizesAndQuitsWhileTheServiceHangs) {
  Tmux ui(host_command(), 80, 24);
  ASSERT_TRUE(ui.wait_for_text(kWebcache)) << ui.last;

  ui.keys({"/", "apple"});
  ASSERT_TRUE(ui.wait_for([](const std::string& s) {
    return s.find(kWebcache) == std::string::npos && s.find("filter: apple") != s.npos;
  })) << ui.last;
  ui.keys({"Enter"});  // ends typing
  ui.keys({"Enter"});  // opens the selected job
  ASSERT_TRUE(ui.wait_for_text(std::string("Orvane › ") + kHelper)) << ui.last;

  // Flipping "Alive" off asks first, with the focus on CANCEL; OK stops the job. (Keys typed
  // ahead of the question are dropped; that is checked on the browser itself, since a terminal
  // may hand them over only after the question is up.)
  ui.keys({"Space"});
  ASSERT_TRUE(ui.wait_for_text("< CANCEL >")) << ui.last;
  EXPECT_THAT(ui.last, HasSubstr("This is a system job"));
  EXPECT_GT(pid_of(kHelper), 0);
  ui.keys({"Left", "Enter"});
  // The switch and the status line may reach the screen in separate frames.
  ASSERT_TRUE(ui.wait_for([](const std::string& s) {
    return std::regex_search(s, std::regex("Alive.*\\[off\\]")) &&
           s.find(std::string(kHelper) + " stopped") != std::string::npos;
  })) << ui.last;
  EXPECT_THAT(ui.last, Not(HasSubstr("< CANCEL >")));
  EXPECT_EQ(pid_of(kHelper), -1);

  ui.run({"resize-window", "-t", "ui", "-x", "200", "-y", "60"});
  ASSERT_TRUE(ui.wait_for([](const std::string& s) {
    const std::string last = s.substr(s.rfind('\n', s.size() - 2) + 1);  // the status line
    return std::count(s.begin(), s.end(), '\n') == 60 && last.find("read") != std::string::npos &&
           last.size() > 150;
  })) << ui.last;

  ui.keys({"Escape"});  // back on the list, which keeps its filter until Esc clears it
  ASSERT_TRUE(ui.wait_for_text("1/1 job")) << ui.last;
  ui.keys({"Escape"});
  ASSERT_TRUE(ui.wait_for_text(kWebcache)) << ui.last;
  ::kill(daemon_, SIGSTOP);
  struct Resume {
    pid_t pid;
    ~Resume() { ::kill(pid, SIGCONT); }
  } resume{daemon_};
  ui.keys({"g", "Space"});  // the show-system switch asks the hung service for the list
  ASSERT_TRUE(ui.wait_for_text("Waiting for the control service")) << ui.last;
  const auto asked = std::chrono::steady_clock::now();
  ui.keys({"q"});
  EXPECT_TRUE(eventually(
      [&] {
        return ui.run({"has-session", "-t", "ui"}).status != 0;
      },
      std::chrono::milliseconds(kIpcTimeoutMs)));
  EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(5));
}

TEST_F(TuiTest, AJobPageOpensItsLogWhichFollowsFiltersAndCloses) {
  Tmux ui(host_command(), 100, 24);
  ASSERT_TRUE(ui.wait_for_text(kWebcache)) << ui.last;
  ui.keys({"/", "webcache", "Enter", "Enter"});
  ASSERT_TRUE(ui.wait_for_text("Alive")) << ui.last;
  ui.keys({"L"});
  ASSERT_TRUE(ui.wait_for_text("err      cache warm")) << ui.last;
  EXPECT_NE(ui.last.find(std::string("Log of ") + kWebcache), std::string::npos) << ui.last;
  EXPECT_THAT(ui.last, HasSubstr("out      cache ready"));

  ASSERT_EQ(start_one(kWebcache, false), 0);
  ASSERT_TRUE(ui.wait_for_text("service  killed by signal 15")) << ui.last;
  ui.keys({"/", "ready", "Enter"});
  ASSERT_TRUE(ui.wait_for([](const std::string& s) {
    return s.find("cache warm") == s.npos && s.find("cache ready") != s.npos;
  })) << ui.last;
  ui.keys({"Escape", "Escape"});  // clears the filter, then closes the log
  ASSERT_TRUE(ui.wait_for_text("[off]")) << ui.last;
}

}  // namespace
}  // namespace orv::test
