// The orvane command line end to end: the real binary, the staged bundle in a temporary root,
// and a scripted control service on the root's real socket; and the plugin as the host meets it,
// loaded with dlopen (this program does not link it, so what it finds was registered by loading).
#include <dlfcn.h>
#include <gmock/gmock.h>
#include <sys/socket.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/fs/file_descriptor.h"
#include "platform/ipc/messaging_center.h"
#include "platform/ipc/socket_io.h"
#include "platform/json/json.h"
#include "platform/plist/xml_plist.h"
#include "platform/ui/class_registry.h"
#include "tests/host_process.h"
#include "tests/support/scripted_service.h"

namespace orv::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

const std::string kOrvane = ORVANE_BINARY_DIR "/bin/orvane";
using Args = std::vector<std::string>;

class HostCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    service_.set_daemons({
        job("com.example.web", 42, 0),
        job("com.example.idle", -1, 0),
        job("com.apple.locationd", 7, 0),
        job("com.apple.SpringBoard", 9, 10),
    });
  }

  static Value job(const char* label, int pid, int type) {
    return Value(Dictionary{{"Label", Value(label)},
                            {"Pid", Value(pid)},
                            {"Type", Value(type)},
                            {"Plist", Value(std::string("/Library/LaunchDaemons/") + label)}});
  }

  static ProcessResult orvane(std::vector<std::string> args,
                              std::vector<std::pair<std::string, std::string>> env = {}) {
    args.insert(args.begin(), kOrvane);
    env.insert(env.begin(), {"ORVANE_IPC_TIMEOUT_MS", "3000"});  // later entries override
    return run_process(args, env);
  }

  std::size_t starts() const { return service_.requests_named("startOne").size(); }

  PluginTestRoot root_;
  ScriptedService service_;
};

TEST_F(HostCliTest, ListShowsJobRowsAndHidesSystemJobs) {
  auto json = orvane({"list", "--json"});
  ASSERT_EQ(json.status, 0) << json.err;
  auto parsed = parse_json(json.out);
  ASSERT_TRUE(parsed) << json.out;
  const Array& rows = (*parsed)["rows"].as_array();
  ASSERT_EQ(rows.size(), 9u);  // six entries of the resource, three shown jobs
  EXPECT_EQ(rows[6]["name"], Value("com.example.web"));
}

TEST_F(HostCliTest, ShowOpensTheDetailPageAndNamesHiddenSystemJobs) {
  auto show = orvane({"show", "com.example.web"});
  EXPECT_EQ(show.status, 0) << show.err;
  EXPECT_THAT(show.out, HasSubstr("(read-only)"));

  auto hidden = orvane({"show", "com.apple.SpringBoard"});
  EXPECT_EQ(hidden.status, 2);
  EXPECT_THAT(hidden.err, HasSubstr("orvane show-system on"));

  EXPECT_EQ(orvane({"show-system", "on"}).status, 0);
  EXPECT_EQ(orvane({"show", "com.apple.SpringBoard"}).status, 0);
}

TEST_F(HostCliTest, StartAndStopReportTheRefreshedSwitch) {
  auto start = orvane({"start", "com.example.web"});
  EXPECT_EQ(start.status, 0) << start.err;
  EXPECT_EQ(starts(), 1u);

  // A system job asks first; without --yes and without a terminal the answer is CANCEL.
  auto declined = orvane({"stop", "com.apple.locationd"});
  EXPECT_EQ(declined.status, 1);
  EXPECT_THAT(declined.err, HasSubstr("alert: This is a system job"));
  EXPECT_EQ(starts(), 1u);

  auto confirmed = orvane({"stop", "com.apple.locationd", "--yes"});
  EXPECT_EQ(starts(), 2u);
  EXPECT_EQ(confirmed.status, 1);  // still listed as running

  // A label's control characters never reach the terminal.
  service_.set_daemons({job("com.example.\x1B[2Jweb", 5, 0)});
  auto escaped = orvane({"stop", "com.example.\x1B[2Jweb"});
  EXPECT_THAT(escaped.out, HasSubstr("[2Jweb: running"));
  EXPECT_EQ(escaped.out.find('\x1B'), std::string::npos);
}

TEST_F(HostCliTest, ExportAndImportReportTheirOutcome) {
  EXPECT_EQ(orvane({"export", "saved.plist"}).status, 0);  // an empty table: nothing to do

  ASSERT_EQ(orvane({"stop", "com.example.web"}).status, 1);  // records the choice
  auto exported = orvane({"export", "saved.plist"});
  EXPECT_EQ(exported.status, 0) << exported.err;
  EXPECT_THAT(exported.err, HasSubstr("prompt: File name"));
  EXPECT_THAT(exported.err, HasSubstr("alert: Exported:/var/mobile/Media/saved.plist"));

  service_.set_status("export", -1);
  EXPECT_EQ(orvane({"export", "saved.plist"}).status, 1);
  EXPECT_EQ(orvane({"import", "policy.plist", "--yes"}).status, 1);  // no such file

  write_xml_plist(root_.real("/var/mobile/Media/policy.plist"),
                  Value(Dictionary{{"com.example.idle", Value(false)}}));
  auto imported = orvane({"import", "policy.plist", "--yes"});
  EXPECT_EQ(imported.status, 0) << imported.err;
  EXPECT_THAT(imported.err, HasSubstr("alert: Imported:/var/mobile/Media/policy.plist"));
}

TEST_F(HostCliTest, LogsPrintsTheJobsLinesWithLocalTimesOrAsJson) {
  const Value line(Dictionary{{"time", Date{10.25}}, {"stream", "err"}, {"text", "bad\x1B[2J"}});
  service_.set_reply("log",
                     Value(Dictionary{{"status", 0}, {"entries", Array{line}}, {"cursor", "c9"}}));
  auto logs = orvane({"logs", "com.example.web", "-n", "5"}, {{"TZ", "UTC-8"}});
  EXPECT_EQ(logs.status, 0) << logs.err;
  EXPECT_EQ(logs.out, "2001-01-01 08:00:10.250  err      bad\uFFFD[2J\n");
  const auto requests = service_.requests_named("log");
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].user_info, Value(Dictionary{{"Label", "com.example.web"}, {"lines", 5}}));

  auto json = orvane({"logs", "--json", "com.example.web"}, {{"TZ", "UTC-8"}});
  EXPECT_EQ(json.out,
            "{\"time\":\"2001-01-01T08:00:10.250+08:00\",\"stream\":\"err\","
            "\"text\":\"bad\\u001b[2J\"}\n");

  // Following asks again after the last cursor, prints what comes, and ends when the job goes.
  std::jthread job_goes([this] {
    eventually([this] { return service_.requests_named("log").size() >= 4; });
    service_.set_reply("log", Value(Dictionary{{"status", -2}}));
  });
  auto followed = orvane({"logs", "-f", "com.example.web"}, {{"TZ", "UTC-8"}});
  EXPECT_EQ(followed.status, 2) << followed.err;
  EXPECT_THAT(followed.out, StartsWith(logs.out + logs.out));
  EXPECT_EQ(service_.requests_named("log")[3].user_info,
            Value(Dictionary{{"Label", "com.example.web"}, {"lines", 10000}, {"after", "c9"}}));
}

// A service that is not running, refuses the host or never answers must not pass for an empty
// machine: each command says so in one line, and those that only show exit with status 3.
TEST_F(HostCliTest, AServiceThatDoesNotAnswerIsNamedAndFailsTheShowingCommands) {
  TempDir nobody;  // a run directory without a socket
  TempDir refusing_dir;
  MessagingCenterServer refusing(refusing_dir.path() / "msgport.orvane.sock");
  refusing.set_peer_filter([](uid_t, gid_t) { return false; });
  ASSERT_TRUE(refusing.start());
  TempDir silent_dir;  // a service that accepts and never answers, as a stopped one does
  FileDescriptor silent(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const auto address = *ipc::unix_socket_address(silent_dir.path() / "msgport.orvane.sock");
  ASSERT_EQ(::bind(silent.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(silent.get(), 8), 0);

  auto orvane_at = [](const TempDir& run_dir, std::vector<std::string> args) {
    return orvane(std::move(args), {{"ORVANE_RUNTIME_DIR", run_dir.path().string()},
                                    {"ORVANE_IPC_TIMEOUT_MS", "300"}});
  };
  for (const auto& [args, status] :
       std::vector<std::pair<Args, int>>{{{"list"}, 3},
                                         {{"show", "com.example.web"}, 3},
                                         {{"stop", "com.example.web"}, 2},
                                         {{"export", "saved.plist"}, 0},
                                         {{"logs", "com.example.web", "-f"}, 3}}) {
    auto result = orvane_at(nobody, args);
    EXPECT_EQ(result.status, status) << args[0] << "\n" << result.err;
    EXPECT_THAT(result.err, HasSubstr("orvane: the control service did not answer (not running)\n"))
        << args[0];
    EXPECT_THAT(result.err, Not(HasSubstr("no job row named")));
  }
  auto page = orvane_at(nobody, {"list"});
  EXPECT_THAT(page.out, HasSubstr("Show system jobs: off"));

  auto refused = orvane_at(refusing_dir, {"list"});
  EXPECT_EQ(refused.status, 3);
  EXPECT_THAT(refused.err, HasSubstr("did not answer (refused)"));
  auto timed_out = orvane_at(silent_dir, {"list"});
  EXPECT_EQ(timed_out.status, 3);
  EXPECT_THAT(timed_out.err, HasSubstr("did not answer (timed out)"));
}

TEST_F(HostCliTest, UsageErrorsAndBrokenBundlesExitWithStatusTwo) {
  for (const Args& args :
       {Args{}, Args{"frob\x1B[2J"}, Args{"show"}, Args{"list", "extra"},
        Args{"start", "x", "--json"}, Args{"show-system", "maybe"}, Args{"stop", "no.\x1B]0;job\a"},
        Args{"logs", "x", "-n", "0"}, Args{"list", "-f"}}) {
    auto result = orvane(args);
    EXPECT_EQ(result.status, 2) << (args.empty() ? "(none)" : args[0]);
    EXPECT_THAT(result.err, HasSubstr("orvane:"));
    EXPECT_EQ(result.err.find_first_of("\x1B\a"), std::string::npos) << result.err;
  }
  EXPECT_EQ(orvane({"--help"}).status, 0);

  // No bundle, an unreadable Info.plist, a missing library: each is named in the message.
  TempDir empty;
  const auto info = empty.real("/Library/PreferenceBundles/OrvanePrefs.bundle/Info.plist");
  const std::string missing_library =
      *encode_xml_plist(Dictionary{{"CFBundleExecutable", Value("Missing.so")},
                                   {"NSPrincipalClass", Value("OrvaneRootListController")}});
  for (const auto& [contents, named] :
       std::vector<std::pair<std::string, std::string>>{{"", empty.path().string()},
                                                        {"not a property list", "Info.plist"},
                                                        {missing_library, "Missing.so"}}) {
    if (!contents.empty()) write_file(info, contents);
    auto result = orvane({"list"}, {{"ORVANE_ROOT", empty.path().string()}});
    EXPECT_EQ(result.status, 2) << named;
    EXPECT_THAT(result.err, HasSubstr(named));
  }
}

TEST(PluginLoad, RegistersItsClassesAndExportsItsFunctions) {
  const ClassRegistry& registry = ClassRegistry::shared();
  ASSERT_FALSE(registry.hasPage("OrvaneRootListController"));
  const std::string library =
      ORVANE_BINARY_DIR "/root" + std::string(kPluginBundle) + "/OrvanePrefs.so";
  void* plugin = ::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(plugin, nullptr) << ::dlerror();

  EXPECT_TRUE(registry.hasPage("OrvaneRootListController"));
  EXPECT_TRUE(registry.hasPage("OrvaneDetailController"));
  EXPECT_TRUE(registry.hasCell("OrvaneMultilineCell"));
  for (const char* symbol : {"alert", "prompt", "ns_2_json", "json_2_ns"})
    EXPECT_NE(::dlsym(plugin, symbol), nullptr) << symbol;
}

}  // namespace
}  // namespace orv::test
