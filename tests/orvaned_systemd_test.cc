// orvaned's systemd backend, run for real against a systemd manager that a D-Bus mock plays on
// a private bus (tests/peers/systemd_manager_mock.py), and reached over its real socket.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <systemd/sd-bus.h>

#include <cstdio>

#include "tests/host_process.h"
#include "tests/orvaned_fixture.h"
#include "tests/support/scripted_service.h"

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

// The argument vector is made before the fork: the child only calls what is safe after one.
pid_t spawn(std::vector<std::string> args, int stdout_fd = -1) {
  std::vector<char*> argv;
  for (auto& a : args)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = ::fork();
  if (pid == 0) {
    if (stdout_fd >= 0) ::dup2(stdout_fd, STDOUT_FILENO);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return pid;
}

void end_process(pid_t& pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGTERM);
  ::waitpid(pid, nullptr, 0);
  pid = -1;
}

class OrvanedSystemdTest : public OrvanedTest {
 protected:
  void SetUp() override {
    if (::access(kDbusDaemon, X_OK) != 0 ||
        run_process({kPython, "-c", "import dbusmock"}).status != 0)
      GTEST_SKIP() << "needs dbus-daemon and Debian's python3-dbusmock";
    ASSERT_NO_FATAL_FAILURE(start_bus());
    ASSERT_NO_FATAL_FAILURE(start_manager(kManager));
    start_daemon({"--backend", "systemd", "--bus", address_, "--protect", "named.service",
                  "--job-timeout", "0.5"});
  }
  void TearDown() override {
    if (daemon_ > 0) {
      EXPECT_EQ(terminate_daemon(), 0);
    }
    end_process(mock_);
    if (bus_) sd_bus_flush_close_unref(bus_);
    end_process(dbus_);
  }

  void start_manager(const char* parameters) {
    const std::string log = root_.path() / "mock.log";
    mock_ =
        spawn({kPython, "-m", "dbusmock", "--session", "-l", log, "-t", kMock, "-p", parameters});
    ASSERT_TRUE(eventually([&] { return manager_is_up(); })) << "the mock did not come up";
  }

  // A bus of the test's own, its address read once the daemon listens.
  void start_bus() {
    int out[2];
    ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
    dbus_ = spawn({kDbusDaemon, "--session", "--nofork", "--print-address",
                   "--address=unix:path=" + (root_.path() / "bus").string()},
                  out[1]);
    ::close(out[1]);
    FILE* printed = ::fdopen(out[0], "r");
    char line[512] = {};
    ASSERT_TRUE(std::fgets(line, sizeof line, printed)) << "dbus-daemon did not start";
    std::fclose(printed);
    address_ = std::string(line, std::strcspn(line, "\n"));
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
    ASSERT_GE(sd_bus_new(&bus_), 0);
    sd_bus_set_address(bus_, address_.c_str());
    sd_bus_set_bus_client(bus_, 1);
    ASSERT_GE(sd_bus_start(bus_), 0);
  }
  bool manager_is_up() {
    sd_bus_message* reply = nullptr;
    int has = 0;
    if (sd_bus_call_method(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                           "org.freedesktop.DBus", "NameHasOwner", nullptr, &reply, "s",
                           "org.freedesktop.systemd1") >= 0)
      sd_bus_message_read(reply, "b", &has);
    sd_bus_message_unref(reply);
    return has != 0;
  }
  // A call to the manager made outside orvaned, as systemctl makes them.
  void call_manager(const char* interface, const char* member, const char* types = nullptr,
                    const char* a = nullptr, const char* b = nullptr) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    int r = sd_bus_call_method(bus_, "org.freedesktop.systemd1", "/org/freedesktop/systemd1",
                               interface, member, &error, nullptr, types, a, b);
    EXPECT_GE(r, 0) << member << ": " << (error.message ? error.message : "");
    sd_bus_error_free(&error);
  }

  std::string address_;
  sd_bus* bus_ = nullptr;
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

TEST_F(OrvanedSystemdTest, StartsAndStopsUnitsAsTheManagersJobs) {
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
}

// A unit's log is the journal's (which may hold nothing of the mock's units); only units the
// manager knows have one.
TEST_F(OrvanedSystemdTest, LogsComeFromTheJournalForKnownUnitsOnly) {
  EXPECT_EQ(read_log("admin.service")["status"].read_int32(), 0);
  EXPECT_TRUE(read_log("admin.service")["entries"].is_array());
  EXPECT_EQ(read_log("nosuch.service")["status"].read_int32(), -2);
}

// The import of the list page stops what a file marks as stopped, through the real host.
TEST_F(OrvanedSystemdTest, AnImportStopsNoProtectedUnit) {
  PluginTestRoot plugin;
  std::filesystem::create_directories(plugin.real("/var/mobile/Media"));
  ASSERT_TRUE(write_plist_file_atomically(
      plugin.real("/var/mobile/Media/policy.plist"),
      Value(Dictionary{{"dbus.service", false}, {"admin.service", false}}), PlistFormat::Xml));
  auto imported = run_process({ORVANE_BINARY_DIR "/bin/orvane", "import", "policy.plist", "--yes"});
  EXPECT_EQ(imported.status, 0) << imported.err;
  EXPECT_EQ(pid_of("admin.service"), -1);
  EXPECT_EQ(pid_of("dbus.service"), 11);
}

TEST_F(OrvanedSystemdTest, FollowsChangesReloadsAndRestartsOfTheManager) {
  call_manager("org.freedesktop.systemd1.Manager", "StartUnit", "ss", "vendor.service", "replace");
  EXPECT_TRUE(eventually([&] { return pid_of("vendor.service") == 4242; }));

  call_manager("org.freedesktop.DBus.Mock", "AddUnit", "s",
               R"({"name": "added.service", "active": "active", "pid": 21})");
  call_manager("org.freedesktop.systemd1.Manager", "Reload");
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

}  // namespace
}  // namespace orv::test
