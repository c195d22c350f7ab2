// orvaned's systemd backend, run for real against a systemd manager that a D-Bus mock plays on
// a private bus (tests/peers/systemd_manager_mock.py), and reached over its real socket; then
// on a real systemd user manager; and its reader of journal files.
#include <gmock/gmock.h>
#include <pwd.h>

#include <cstdio>

#include "orvaned/journal_log.h"
#include "tests/orvaned_fixture.h"
#include "tests/support/scripted_service.h"
#include "tests/support/user_manager.h"

namespace orv::test {
namespace {

constexpr const char* kPython = "/usr/bin/python3";
constexpr const char* kDbusDaemon = "/usr/bin/dbus-daemon";
const std::string kMock = ORVANE_SOURCE_DIR "/tests/peers/systemd_manager_mock.py";

// The manager's units; "own_unit" plays the unit orvaned itself runs in.
constexpr const char* kManager = R"({"own_unit": "orvaned.service", "units": [
  {"name": "admin.service", "file": "/etc/systemd/system/admin.service", "state": "enabled",
   "active": "active", "pid": 100, "exec": ["/usr/bin/admin", "--serve"], "user": "www",
   "restart": "always", "description": "Admin console"},
  {"name": "vendor.service", "file": "/usr/lib/systemd/system/vendor.service",
   "state": "disabled"},
  {"name": "oneshot.service", "active": "active"},
  {"name": "fileonly.service", "loaded": false, "state": "enabled-runtime",
   "file": "/etc/systemd/system/fileonly.service"},
  {"name": "tmpl@.service", "loaded": false, "file": "/usr/lib/systemd/system/tmpl@.service"},
  {"name": "tmpl@one.service", "active": "active", "pid": 7},
  {"name": "other.socket", "active": "active"},
  {"name": "odd.service", "active": "active", "odd": true},
  {"name": "failing.service", "result": "failed"},
  {"name": "stuck.service", "result": "never"},
  {"name": "dbus.service", "active": "active", "pid": 11},
  {"name": "refusing.service", "active": "active", "pid": 12, "refuse_stop": true},
  {"name": "named.service", "active": "active", "pid": 13},
  {"name": "orvaned.service", "active": "active", "pid": 14}]})";

class OrvanedSystemdTest : public OrvanedTest {
 protected:
  void SetUp() override {
    if (::access(kDbusDaemon, X_OK) != 0 ||
        run_process({kPython, "-c", "import dbusmock"}).status != 0)
      GTEST_SKIP() << "needs dbus-daemon and Debian's python3-dbusmock";
    // A bus of the test's own; the mock's manager answering on it means it listens.
    address_ = "unix:path=" + (root_.path() / "bus").string();
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
    dbus_ = spawn({kDbusDaemon, "--session", "--nofork", "--address=" + address_});
    ASSERT_NO_FATAL_FAILURE(start_manager(kManager));
    start_daemon({"--backend", "systemd", "--bus", address_, "--protect", "named.service",
                  "--job-timeout", "0.5"});
  }
  void TearDown() override {
    if (daemon_ > 0) {
      EXPECT_EQ(terminate_daemon(), 0);
    }
    end_process(mock_);
    end_process(dbus_);
  }

  void start_manager(const char* parameters) {
    const std::string log = root_.path() / "mock.log";
    mock_ =
        spawn({kPython, "-m", "dbusmock", "--session", "-l", log, "-t", kMock, "-p", parameters});
    ASSERT_TRUE(eventually([&] {
      return busctl({"org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                     "NameHasOwner", "s", "org.freedesktop.systemd1"})
                 .out == "b true\n";
    })) << "the mock did not come up";
  }
  // A call on the bus made outside orvaned, as systemctl makes them.
  ProcessResult busctl(std::vector<std::string> call) {
    call.insert(call.begin(), {"/usr/bin/busctl", "--address=" + address_, "call"});
    return run_process(call);
  }
  void call_manager(const std::string& interface, std::vector<std::string> member_and_args) {
    member_and_args.insert(member_and_args.begin(),
                           {"org.freedesktop.systemd1", "/org/freedesktop/systemd1", interface});
    auto called = busctl(std::move(member_and_args));
    EXPECT_EQ(called.status, 0) << called.err;
  }

  std::string address_;
  pid_t dbus_ = -1;
  pid_t mock_ = -1;
};

std::string own_user() {
  const struct passwd* entry = ::getpwuid(::getuid());
  return entry ? entry->pw_name : "root";
}

TEST_F(OrvanedSystemdTest, ListsTheServiceUnitsAndTheirFiles) {
  const Value admin(Dictionary{{"Label", "admin.service"},
                               {"Pid", 100},
                               {"Type", 0},
                               {"Plist", "/etc/systemd/system/admin.service"},
                               {"ProgramArguments", Array{"/usr/bin/admin", "--serve"}},
                               {"Program", "/usr/bin/admin"},
                               {"User", "www"},
                               {"RunAtLoad", true},
                               {"KeepAlive", true},
                               {"Description", "Admin console"}});
  auto plain = [](const char* label, int pid, int type, const char* plist, bool run_at_load) {
    Dictionary record{
        {"Label", label},           {"Pid", pid},        {"Type", type}, {"User", own_user()},
        {"RunAtLoad", run_at_load}, {"KeepAlive", false}};
    if (*plist) record.set("Plist", plist);
    return Value(std::move(record));
  };
  EXPECT_EQ(record("admin.service"), admin);
  EXPECT_EQ(record("vendor.service"),
            plain("vendor.service", -1, 10, "/usr/lib/systemd/system/vendor.service", false));
  EXPECT_EQ(record("oneshot.service"), plain("oneshot.service", 0, 10, "", false));
  EXPECT_EQ(record("fileonly.service"),
            plain("fileonly.service", -1, 0, "/etc/systemd/system/fileonly.service", true));
  EXPECT_EQ(record("odd.service"), plain("odd.service", 0, 10, "", false));
  EXPECT_EQ(pid_of("tmpl@one.service"), 7);
  EXPECT_TRUE(record("tmpl@.service").is_null());
  EXPECT_TRUE(record("other.socket").is_null());
}

TEST_F(OrvanedSystemdTest, StartsAndStopsUnitsAsTheManagersJobsAndReadsTheirJournal) {
  struct Case {
    const char* label;
    bool start;
    int status;
    int pid_after;
  } cases[] = {
      {"admin.service", false, 0, -1},     {"admin.service", false, 0, -1},
      {"vendor.service", true, 0, 4242},   {"vendor.service", true, 0, 4242},
      {"failing.service", true, -6, -1},   {"stuck.service", true, -7, -1},
      {"nosuch.service", true, -2, 0},     {"tmpl@.service", true, -2, 0},
      {"other.socket", false, -2, 0},      {"dbus.service", false, -5, 11},
      {"refusing.service", false, -5, 12}, {"named.service", false, -5, 13},
      {"orvaned.service", false, -5, 14},  {"dbus.service", true, 0, 4242},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(start_one(c.label, c.start), c.status) << c.label;
    if (c.pid_after) {
      EXPECT_EQ(pid_of(c.label), c.pid_after) << c.label;
    }
  }
  // A unit's log is the journal's (which may hold nothing of the mock's units); only units the
  // manager knows have one.
  const Value log = read_log("admin.service");
  EXPECT_TRUE(log["status"] == Value(0) && log["entries"].is_array());
  EXPECT_EQ(read_log("nosuch.service")["status"].read_int32(), -2);
}

TEST_F(OrvanedSystemdTest, FollowsChangesReloadsAndRestartsOfTheManager) {
  call_manager("org.freedesktop.systemd1.Manager",
               {"StartUnit", "ss", "vendor.service", "replace"});
  EXPECT_TRUE(eventually([&] { return pid_of("vendor.service") == 4242; }));

  call_manager("org.freedesktop.DBus.Mock",
               {"AddUnit", "s", R"({"name": "added.service", "active": "active", "pid": 21})"});
  call_manager("org.freedesktop.systemd1.Manager", {"Reload"});
  EXPECT_TRUE(eventually([&] { return pid_of("added.service") == 21; }));

  end_process(mock_);
  start_manager(R"({"units": [{"name": "again.service", "active": "active", "pid": 31}]})");
  EXPECT_TRUE(eventually([&] { return pid_of("again.service") == 31; }));
  EXPECT_TRUE(record("admin.service").is_null());

  // Without its bus the service cannot follow the manager, and says so by failing.
  end_process(dbus_);
  int status = 0;
  EXPECT_TRUE(eventually([&] { return ::waitpid(daemon_, &status, WNOHANG) == daemon_; }));
  daemon_ = -1;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
}

// The same backend on a real systemd user manager of the test's own, used through the real
// host: the units it lists, the processes its start and stop really end and start, and a change
// made with systemctl seen in the next list.
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

// A unit's log read from journal files that the test writes with the journal's own remote
// writer (from the export format), as the backend reads the machine's journal.
using service::JournalPlace;
using service::LogQuery;

const char* const kRemoteWriter = "/lib/systemd/systemd-journal-remote";

// One entry of the export format; entries of a file follow each other in time.
std::string entry(int second, const std::string& fields) {
  return "__REALTIME_TIMESTAMP=" + std::to_string(1'700'000'000 + second) + "000000\n" +
         "__MONOTONIC_TIMESTAMP=" + std::to_string(second + 1) + "000000\n" +
         "_BOOT_ID=0123456789abcdef0123456789abcdef\n" + fields + "\n";
}

void write_journal(const std::filesystem::path& file, const std::string& export_text) {
  std::string command =
      std::string(kRemoteWriter) + " --output=" + file.string() + " - 2>/dev/null";
  std::FILE* writer = ::popen(command.c_str(), "w");
  ASSERT_NE(writer, nullptr);
  std::fwrite(export_text.data(), 1, export_text.size(), writer);
  ASSERT_EQ(::pclose(writer), 0);
}

std::vector<std::string> lines(const Result<service::LogPage>& page) {
  if (!page) return {"error: " + page.error().message};
  constexpr const char* kStreams[] = {"out ", "err ", "service "};  // in LogStream's order
  std::vector<std::string> out;
  for (const service::LogEntry& e : page->entries)
    out.push_back(kStreams[static_cast<int>(e.stream)] + e.text);
  return out;
}

TEST(JournalLog, ReadsAUnitsLastEntriesAndFollowsWithTheCursor) {
  if (!std::filesystem::exists(kRemoteWriter)) GTEST_SKIP() << "no journal remote writer";
  TempDir dir;
  write_journal(
      dir.path() / "a.journal",
      entry(0, "_SYSTEMD_UNIT=a.service\n_PID=10\nPRIORITY=6\nMESSAGE=one\n") +
          entry(1, "_SYSTEMD_UNIT=b.service\nMESSAGE=other\n") +
          entry(2, "_SYSTEMD_UNIT=init.scope\nUNIT=a.service\n_PID=1\nMESSAGE=Started a.\n") +
          entry(3, "_SYSTEMD_UNIT=a.service\nPRIORITY=3\nMESSAGE=two\x1b[2J\n") +
          entry(4, "_SYSTEMD_UNIT=a.service\nMESSAGE=three\n") +
          entry(5, "_SYSTEMD_USER_UNIT=a.service\nMESSAGE=a user's\n"));
  const JournalPlace place{JournalPlace::Kind::Directory, dir.path()};

  LogQuery query;
  query.lines = 3;
  auto last = service::read_journal("a.service", query, place);
  EXPECT_EQ(lines(last),
            (std::vector<std::string>{"service Started a.", "err two\\x1b[2J", "out three"}));
  ASSERT_TRUE(last);
  EXPECT_EQ(last->entries.back().time.time_since_epoch(), std::chrono::seconds(1'700'000'004));
  query.lines = LogQuery::kDefaultLines;
  EXPECT_EQ(lines(service::read_journal("a.service", query, place)).size(), 4u);

  query.after = last->cursor;
  auto nothing_new = service::read_journal("a.service", query, place);
  EXPECT_EQ(lines(nothing_new), std::vector<std::string>{});
  write_journal(dir.path() / "b.journal", entry(6, "_SYSTEMD_UNIT=a.service\nMESSAGE=four\n"));
  auto next = service::read_journal("a.service", query, place);
  EXPECT_EQ(lines(next), std::vector<std::string>{"out four"});
  ASSERT_TRUE(next);
  EXPECT_NE(next->cursor, last->cursor);

  const JournalPlace user{JournalPlace::Kind::Directory, dir.path(), true};
  EXPECT_EQ(lines(service::read_journal("a.service", LogQuery{}, user)),
            std::vector<std::string>{"out a user's"});
}

}  // namespace
}  // namespace orv::test
