// orvaned's systemd backend on a real systemd user manager of the test's own, used through the
// real host: the units it lists, the processes its start and stop really end and start, and a
// change made with systemctl seen in the next list.
#include <gmock/gmock.h>

#include "tests/orvaned_fixture.h"
#include "tests/support/scripted_service.h"
#include "tests/support/user_manager.h"

namespace orv::test {
namespace {

constexpr const char* kSleeper = "orvane-sleeper.service";
constexpr const char* kIdle = "orvane-idle.service";

class SystemdUserManagerTest : public OrvanedTest {
 protected:
  void SetUp() override {
    program_ = sleeper_named("orvane-test-sleeper");
    auto manager = UserManager::start({
        {kSleeper, "[Unit]\nDescription=Sleeps for the test\n[Service]\nExecStart=" + program_ +
                       " 100000\n[Install]\nWantedBy=default.target\n"},
        {kIdle, "[Service]\nExecStart=/bin/sleep 100000\n"},
    });
    if (!manager && manager.error().code == EPERM) GTEST_SKIP() << manager.error().message;
    ASSERT_TRUE(manager) << manager.error().message;
    manager_ = std::move(*manager);
    auto enabled = manager_->systemctl({"enable", "--now", kSleeper});
    ASSERT_EQ(enabled.status, 0) << enabled.err;
    link_staged_bundle(root_);
    start_daemon({"--backend", "systemd", "--bus", manager_->address()});
  }
  ~SystemdUserManagerTest() override {
    terminate_daemon();  // before its manager goes away
  }

  // A line of "orvane list": the label, then its status text.
  static auto lists(const std::string& label, const std::string& status) {
    return testing::ContainsRegex("(^|\n)" + label + " +" + status + "\n");
  }
  std::int32_t main_pid(const std::string& unit) {
    return std::stoi(manager_->systemctl({"show", "-P", "MainPID", unit}).out);
  }

  std::string program_;
  std::unique_ptr<UserManager> manager_;
};

TEST_F(SystemdUserManagerTest, TheHostListsStartsAndStopsTheManagersUnits) {
  // The fields a real manager gives, mapped in detail by the mock manager's test.
  const Value sleeper = record(kSleeper);
  EXPECT_EQ(sleeper,
            Value(Dictionary{
                {"Label", kSleeper},
                {"Pid", main_pid(kSleeper)},
                {"Type", 0},
                {"Plist", (manager_->dir() / "home/.config/systemd/user/" / kSleeper).string()},
                {"ProgramArguments", Array{program_, "100000"}},
                {"Program", program_},
                {"User", "root"},
                {"RunAtLoad", true},
                {"KeepAlive", false},
                {"Description", "Sleeps for the test"}}));
  EXPECT_EQ(processes_running(program_), 1);
  const std::string list = orvane({"list"}).out;
  EXPECT_THAT(list, lists(kSleeper, "Sleeps for the test Status:running"));
  EXPECT_THAT(list, lists(kIdle, "orvane-idle.service Status:stopped"));  // its file only

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
  EXPECT_THAT(orvane({"list"}).out, lists(kIdle, "orvane-idle.service Status:running"));
  EXPECT_EQ(pid_of(kIdle), main_pid(kIdle));
}

}  // namespace
}  // namespace orv::test
