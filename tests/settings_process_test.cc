// Settings with real processes: orvane hosts racing each other against a real orvaned on a
// temporary root, and a FIFO or a device where the settings file is expected.
#include <sys/stat.h>

#include <atomic>

#include "services/settings.h"
#include "tests/orvaned_fixture.h"
#include "tests/support/scripted_service.h"

namespace orv::test {
namespace {

namespace fs = std::filesystem;

std::string job_label(int n) {
  return "com.example.job" + std::to_string(n);
}

// A FIFO, or a link to /dev/zero, where a file is expected.
void plant(const fs::path& path, bool fifo) {
  fs::create_directories(path.parent_path());
  if (fifo)
    ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0) << path;
  else
    fs::create_symlink("/dev/zero", path);
}

class HostsAndServiceTest : public OrvanedTest {
 protected:
  HostsAndServiceTest() { link_staged_bundle(root_); }

  fs::path settings_file() const { return root_.real(kSettingsFile); }
  Value settings() const {
    return read_plist_file(settings_file()).value_or(Value())["velnor.orvane"];
  }
};

TEST_F(HostsAndServiceTest, EightHostsChangingSettingsAtOnceLoseNoChange) {
  constexpr int kHosts = 8;
  // Fewer rounds under the sanitizer, where each host run takes several times as long.
  constexpr int kRounds = kSanitized ? 12 : 50;
  for (int host = 1; host < kHosts; ++host)
    write_job(job_label(host), Dictionary{{"ProgramArguments", sleeper()}});
  start_daemon();

  // Host 0 flips the show-system switch, every other host starts and stops a job of its own.
  // Each owns its key or policy entry, so before each of its runs the file must hold what its
  // last run stored, whatever the others wrote meanwhile.
  std::atomic<int> lost = 0;
  auto run_host = [&](int host) {
    Value last;
    for (int round = 0; round <= kRounds; ++round) {
      const Value now =
          host == 0 ? settings()[kShowSystemKey] : settings()[kUserPolicyKey][job_label(host)];
      if (now != last) ++lost;
      if (round == kRounds) break;
      const bool on = round % 2 == 0;
      if (host == 0)
        orvane({"show-system", on ? "on" : "off"});
      else
        orvane({on ? "start" : "stop", job_label(host)});
      last = Value(on);
    }
  };
  std::vector<std::thread> hosts;
  for (int host = 0; host < kHosts; ++host)
    hosts.emplace_back(run_host, host);
  for (std::thread& host : hosts)
    host.join();
  EXPECT_EQ(lost, 0);
}

// Read as no file at once, whatever reads it (the defaults' own test covers that), and said once.
TEST_F(HostsAndServiceTest, AFifoOrADeviceAsTheSettingsFileIsLeftAlone) {
  start_daemon();
  for (bool fifo : {true, false}) {
    fs::remove(settings_file());
    plant(settings_file(), fifo);
    const ProcessResult listed = orvane({"list"});
    EXPECT_EQ(listed.status, 0) << listed.err;
    const std::string note = "working with default settings";
    EXPECT_NE(listed.err.find(note), std::string::npos) << listed.err;
    EXPECT_EQ(listed.err.find(note), listed.err.rfind(note)) << "said once\n" << listed.err;
    const ProcessResult changed = orvane({"show-system", "on"});
    EXPECT_EQ(changed.status, 1) << changed.err;
    EXPECT_NE(changed.err.find("a settings change was not saved"), std::string::npos)
        << changed.err;
  }
  EXPECT_TRUE(fs::is_symlink(settings_file())) << "an unreadable settings file is left alone";
}

}  // namespace
}  // namespace orv::test
