// orvaned's systemd backend on a real systemd user manager of the test's own, used through the
// real host: the units it lists, the processes its start and stop really end and start, and a
// change made with systemctl seen in the next list.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/host_process.h"
#include "tests/orvaned_fixture.h"
#include "tests/support/scripted_service.h"
#include "tests/support/user_manager.h"

namespace orv::test {
namespace {

constexpr const char* kSleeper = "orvane-sleeper.service";
constexpr const char* kIdle = "orvane-idle.service";
constexpr const char* kOneshot = "orvane-oneshot.service";
constexpr const char* kInstance = "orvane-worker@one.service";

class SystemdUserManagerTest : public OrvanedTest {
 protected:
  void SetUp() override {
    program_ = sleeper_named("orvane-test-sleeper");
    const std::string install = "[Install]\nWantedBy=default.target\n";
    auto manager = UserManager::start({
        {kSleeper, "[Unit]\nDescription=Sleeps for the test\n[Service]\nExecStart=" + program_ +
                       " 100000\n" + install},
        {kIdle, "[Service]\nExecStart=/bin/sleep 100000\nRestart=always\n"},
        {kOneshot, "[Service]\nType=oneshot\nRemainAfterExit=yes\nExecStart=/bin/true\n" + install},
        {"orvane-worker@.service", "[Service]\nExecStart=/bin/sleep 100000\n" + install},
    });
    if (!manager && manager.error().code == EPERM) GTEST_SKIP() << manager.error().message;
    ASSERT_TRUE(manager) << manager.error().message;
    manager_ = std::move(*manager);
    auto enabled = manager_->systemctl({"enable", "--now", kSleeper, kOneshot, kInstance});
    ASSERT_EQ(enabled.status, 0) << enabled.err;
    link_staged_bundle(root_);
    start_daemon({"--backend", "systemd", "--bus", manager_->address()});
  }
  ~SystemdUserManagerTest() override {
    if (daemon_ > 0) terminate_daemon();  // before its manager goes away
  }

  ProcessResult orvane(std::vector<std::string> args) {
    args.insert(args.begin(), ORVANE_BINARY_DIR "/bin/orvane");
    return run_process(args, {{"ORVANE_ROOT", root_.path().string()}}, 40);
  }
  // The status column of the label's line in "orvane list".
  std::optional<std::string> listed_status(const std::string& label) {
    auto list = orvane({"list"});
    std::string text = "\n" + list.out;
    auto at = text.find("\n" + label + " ");
    if (at == std::string::npos) return std::nullopt;
    auto line = text.substr(at + 1 + label.size(), text.find('\n', at + 1) - at - 1 - label.size());
    return line.substr(line.find_first_not_of(' '));
  }
  std::int32_t main_pid(const std::string& unit) {
    return std::stoi(manager_->systemctl({"show", "-P", "MainPID", unit}).out);
  }

  std::string program_;
  std::unique_ptr<UserManager> manager_;
};

TEST_F(SystemdUserManagerTest, TheHostListsStartsAndStopsTheManagersUnits) {
  const std::string unit_dir = manager_->dir() / "home/.config/systemd/user/";
  const Value sleeper = record(kSleeper);
  EXPECT_EQ(sleeper["Pid"].read_int32(), main_pid(kSleeper));
  EXPECT_EQ(processes_running(program_), 1);
  EXPECT_EQ(sleeper["Type"], Value(0));
  EXPECT_EQ(sleeper["Plist"], Value(unit_dir + kSleeper));
  EXPECT_EQ(sleeper["ProgramArguments"], Value(Array{program_, "100000"}));
  EXPECT_EQ(sleeper["User"], Value("root"));
  EXPECT_EQ(sleeper["RunAtLoad"], Value(true));
  EXPECT_EQ(record(kIdle)["Pid"], Value(-1));  // a unit file the manager has not loaded
  EXPECT_EQ(record(kIdle)["KeepAlive"], Value(true));
  EXPECT_EQ(record(kOneshot)["Pid"], Value(0));
  EXPECT_EQ(record(kInstance)["Pid"].read_int32(), main_pid(kInstance));
  EXPECT_TRUE(record("orvane-worker@.service").is_null());

  EXPECT_EQ(sleeper["Description"], Value("Sleeps for the test"));
  EXPECT_EQ(listed_status(kSleeper), "Sleeps for the test Status:running");
  EXPECT_EQ(listed_status(kIdle), "orvane-idle.service Status:stopped");
  EXPECT_EQ(listed_status(kInstance), "orvane-worker@one.service Status:running");

  auto stopped = orvane({"stop", kSleeper});
  EXPECT_EQ(stopped.status, 0) << stopped.out << stopped.err;
  EXPECT_EQ(main_pid(kSleeper), 0);
  EXPECT_EQ(processes_running(program_), 0);
  EXPECT_EQ(pid_of(kSleeper), -1);

  auto started = orvane({"start", kSleeper});
  EXPECT_EQ(started.status, 0) << started.out << started.err;
  EXPECT_NE(main_pid(kSleeper), sleeper["Pid"].read_int32());
  EXPECT_EQ(processes_running(program_), 1);
  EXPECT_EQ(pid_of(kSleeper), main_pid(kSleeper));

  ASSERT_EQ(manager_->systemctl({"start", kIdle}).status, 0);
  EXPECT_EQ(listed_status(kIdle), "orvane-idle.service Status:running");
  EXPECT_EQ(pid_of(kIdle), main_pid(kIdle));
}

}  // namespace
}  // namespace orv::test
