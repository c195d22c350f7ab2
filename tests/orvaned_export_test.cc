// orvaned's export writing and who may talk to it.
#include <grp.h>

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
  start_daemon();

  EXPECT_LT(export_to("/var/mobile/Media/../escape.plist"), 0);
  EXPECT_LT(export_to("/var/mobile/Media/a/../../escape.plist"), 0);
  EXPECT_LT(export_to("/etc/x"), 0);
  EXPECT_LT(export_to("/var/mobile/Mediax/y.plist"), 0);
  EXPECT_LT(export_to("/var/mobile/Media/"), 0);
  EXPECT_LT(export_to(Value(7)), 0);
  EXPECT_FALSE(fs::exists(root_.real("/var/mobile/escape.plist")));
  EXPECT_FALSE(fs::exists(root_.real("/etc/x")));

  EXPECT_LT(export_to("/var/mobile/Media/link/x.plist"), 0) << "link as a directory";
  EXPECT_LT(export_to("/var/mobile/Media/link/new/x.plist"), 0);
  EXPECT_FALSE(fs::exists(root_.path() / "outside/x.plist"));
  EXPECT_FALSE(fs::exists(root_.path() / "outside/new"));
  EXPECT_LT(export_to("/var/mobile/Media/final.plist"), 0) << "link as the file itself";
  EXPECT_EQ(read_file(root_.path() / "outside/victim"), "keep");
  EXPECT_TRUE(fs::is_symlink(media() / "final.plist"));
}

// Connects as uid/gid 65534 from a forked child; true when an answer came.
bool answered_as_nobody(const fs::path& root, const fs::path& socket) {
  // Let the unprivileged child reach the socket, so only the service's own check decides.
  fs::permissions(root, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  fs::permissions(socket.parent_path(), fs::perms::owner_all | fs::perms::others_exec);
  fs::permissions(socket, fs::perms::all);
  pid_t child = ::fork();
  if (child == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
    CPDistributedMessagingCenter client("msgport.orvane");
    ::_exit(client.sendMessageAndReceiveReplyName("listAll").is_null() ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 3) << "could not become uid 65534";
  return WIFEXITED(status) && WEXITSTATUS(status) == 1;
}

TEST_F(OrvanedExportTest, AdmitsOnlyRootItselfAndNamedUsers) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to connect as another user";
  ::setenv("ORVANE_IPC_TIMEOUT_MS", "3000", 1);
  start_daemon();
  EXPECT_FALSE(send("listAll").is_null());
  EXPECT_FALSE(answered_as_nobody(root_.path(), socket_path())) << "another uid is refused";
  terminate_daemon();

  start_daemon({"--allow-uid", "65534"});
  EXPECT_TRUE(answered_as_nobody(root_.path(), socket_path()));
  terminate_daemon();

  start_daemon({"--allow-group", "65534"});
  EXPECT_TRUE(answered_as_nobody(root_.path(), socket_path())) << "admitted by its group";
  ::unsetenv("ORVANE_IPC_TIMEOUT_MS");
}

}  // namespace
}  // namespace orv::test
