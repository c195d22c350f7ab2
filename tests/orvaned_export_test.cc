// orvaned's export writing, who may talk to it, and what it logs of both.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>

#include <cstdlib>

#include "platform/fs/file_descriptor.h"
#include "tests/orvaned_fixture.h"

namespace orv::test {
namespace {

namespace fs = std::filesystem;

class OrvanedExportTest : public OrvanedTest {
 protected:
  std::int32_t export_to(const Value& path, const Value& data = table()) {
    Value reply = send("export", Dictionary{{"path", path}, {"data", data}});
    return reply.is_null() ? -1000 : reply["status"].read_int32();
  }
  static Value table() { return Value(Dictionary{{"org.a", false}, {"com.apple.b", true}}); }
  fs::path media() const { return root_.real("/var/mobile/Media"); }

  // Starts the daemon with its standard error going to log_path().
  void start_daemon_logging(std::vector<std::string> extra = {}) {
    FileDescriptor log(::open(log_path().c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    FileDescriptor saved(::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0));
    ::dup2(log.get(), STDERR_FILENO);
    start_daemon(std::move(extra));
    ::dup2(saved.get(), STDERR_FILENO);
  }
  fs::path log_path() const { return root_.path() / "orvaned.log"; }
};

TEST_F(OrvanedExportTest, WritesTheTableAsAPropertyListInsideTheMediaDirectory) {
  start_daemon();
  EXPECT_EQ(export_to("/var/mobile/Media/policies.plist"), 0);
  EXPECT_EQ(read_plist_file(media() / "policies.plist").value_or(Value()), table());
  EXPECT_TRUE(read_file(media() / "policies.plist").starts_with("<?xml"));

  // Subdirectories are made as needed; a second export replaces the file whole.
  EXPECT_EQ(export_to("/var/mobile/Media/a/b/p.plist"), 0);
  Value other(Dictionary{{"x", true}});
  EXPECT_EQ(export_to("/var/mobile/Media/a/b/p.plist", other), 0);
  EXPECT_EQ(read_plist_file(media() / "a/b/p.plist").value_or(Value()), other);
  EXPECT_EQ(std::distance(fs::directory_iterator(media() / "a/b"), {}), 1) << "no temporary left";
  const std::string longest_name(NAME_MAX, 'n');
  EXPECT_EQ(export_to("/var/mobile/Media/a/" + longest_name), 0);
  EXPECT_EQ(read_plist_file(media() / "a" / longest_name).value_or(Value()), table());

  EXPECT_LT(export_to("/var/mobile/Media/t.plist", Value(Array{"not", "a", "table"})), 0);
  EXPECT_LT(export_to("/var/mobile/Media/t.plist", Value()), 0);
  EXPECT_FALSE(fs::exists(media() / "t.plist"));
}

TEST_F(OrvanedExportTest, RefusesPathsThatLeaveTheMediaDirectory) {
  fs::create_directories(media());
  fs::create_directories(root_.path() / "outside");
  fs::create_symlink(root_.path() / "outside", media() / "link");
  write_file(root_.path() / "outside/victim", "keep");
  fs::create_symlink(root_.path() / "outside/victim", media() / "final.plist");
  start_daemon_logging();

  // Names that climb out, other directories, no file name, a link as a directory on the way or
  // as the file itself.
  for (const char* path :
       {"/var/mobile/Media/../escape.plist", "/var/mobile/Media/a/../../escape.plist", "/etc/x",
        "/var/mobile/Mediax/y.plist", "/var/mobile/Media/", "/var/mobile/Media/link/x.plist",
        "/var/mobile/Media/link/new/x.plist", "/var/mobile/Media/final.plist"})
    EXPECT_LT(export_to(path), 0) << path;
  EXPECT_LT(export_to(Value(7)), 0);
  EXPECT_FALSE(fs::exists(root_.real("/var/mobile/escape.plist")));
  EXPECT_FALSE(fs::exists(root_.real("/etc/x")));
  EXPECT_FALSE(fs::exists(root_.path() / "outside/x.plist"));
  EXPECT_FALSE(fs::exists(root_.path() / "outside/new"));
  EXPECT_EQ(read_file(root_.path() / "outside/victim"), "keep");
  EXPECT_TRUE(fs::is_symlink(media() / "final.plist"));

  // The media directory itself replaced by a link.
  fs::rename(media(), root_.path() / "media-was");
  fs::create_symlink(root_.path() / "outside", media());
  EXPECT_LT(export_to("/var/mobile/Media/through-link.plist"), 0);
  EXPECT_FALSE(fs::exists(root_.path() / "outside/through-link.plist"));

  // A refused name cannot write lines or terminal controls of its own into the log.
  EXPECT_LT(export_to("/var/mobile/Media/../x\nforged line\x1b[2J"), 0);
  const std::string log = read_file(log_path());
  EXPECT_NE(log.find("x\\nforged line\\x1b[2J"), std::string::npos) << log;
  EXPECT_EQ(log.find("\nforged"), std::string::npos);
  EXPECT_EQ(log.find('\x1b'), std::string::npos);
}

// An account made for the test and deleted after it, with a group of its own (uid 0: none).
struct ThrowAwayUser {
  ThrowAwayUser() {
    if (std::system(("useradd --no-create-home --user-group " + name + " 2>/dev/null").c_str()))
      return;
    if (const passwd* account = ::getpwnam(name.c_str())) {
      uid = account->pw_uid;
      gid = account->pw_gid;
    }
  }
  ~ThrowAwayUser() {
    if (uid != 0 && std::system(("userdel " + name + " 2>/dev/null").c_str()) != 0)
      ADD_FAILURE() << "could not delete the test account " << name;
  }

  // Connects as this user from a forked child; true when a job's log came.
  bool is_answered() const {
    pid_t child = ::fork();
    if (child == 0) {
      if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) ::_exit(3);
      CPDistributedMessagingCenter client("msgport.orvane");
      Value log = client.sendMessageAndReceiveReplyName("log", Dictionary{{"Label", "org.any"}});
      ::_exit(log["entries"].is_array() ? 1 : 0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 3) << "could not become " << name;
    return WIFEXITED(status) && WEXITSTATUS(status) == 1;
  }

  std::string name = "orvtest" + std::to_string(::getpid());
  uid_t uid = 0;
  gid_t gid = 0;
};

// The socket's mode is left as the daemon sets it: the file system and the daemon's own check
// must agree on who gets in, for the log as for every request.
TEST_F(OrvanedExportTest, AdmitsOnlyRootItselfAndNamedUsers) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to create a second user";
  ThrowAwayUser user;
  if (user.uid == 0) GTEST_SKIP() << "useradd could not create a test account";
  ScopedEnv timeout("ORVANE_IPC_TIMEOUT_MS", "3000");
  // The way down to the socket is open, as the system's run directory is.
  fs::permissions(root_.path(), fs::perms::owner_all | fs::perms::others_exec);
  start_daemon();
  fs::permissions(run_dir(), fs::perms::owner_all | fs::perms::others_exec);
  EXPECT_FALSE(user.is_answered()) << "another uid is refused";
  terminate_daemon();

  // Another user named: the socket is open to all, the check refuses, and says so once.
  start_daemon_logging({"--allow-uid", "65534"});
  EXPECT_FALSE(user.is_answered());
  EXPECT_FALSE(user.is_answered());
  const std::string refusal = "refused a connection from uid " + std::to_string(user.uid);
  const std::string log = read_file(log_path());
  EXPECT_NE(log.find(refusal), std::string::npos) << log;
  EXPECT_EQ(log.find(refusal), log.rfind(refusal)) << "logged once a minute at most";
  terminate_daemon();

  start_daemon({"--allow-uid", std::to_string(user.uid)});
  EXPECT_TRUE(user.is_answered());
  terminate_daemon();

  start_daemon({"--allow-group", std::to_string(user.gid)});
  EXPECT_TRUE(user.is_answered()) << "admitted by its group";
}

}  // namespace
}  // namespace orv::test
