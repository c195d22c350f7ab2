// A job's log as orvaned keeps it: both streams and the service's own lines, escaping, the
// copy in the job's files, the cursor, following, and a flood.
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>

#include "tests/orvaned_fixture.h"

namespace orv::test {
namespace {

using namespace std::chrono_literals;

TEST_F(OrvanedTest, LogHoldsBothStreamsAndTheServiceLinesEscapedAndCopiesToTheNamedFile) {
  const auto outside = root_.path().parent_path() / ("outside-" + std::to_string(::getpid()));
  write_file(outside, "");
  std::filesystem::create_directories(root_.real("/var/log"));
  std::filesystem::create_symlink(outside, root_.real("/var/log/link.err"));
  write_job("org.talk",
            {{"ProgramArguments", Array{"/bin/sh", "-c",
                                        "echo one; sleep 0.2; echo two >&2; sleep 0.2;"
                                        "printf 'bin\\377\\033[2J\\r\\n'; printf three; exit 3"}},
             {"StandardOutPath", "/var/log/job.out"},
             {"StandardErrorPath", "/var/log/link.err"}});
  write_job("org.missing", {{"Program", "/no/such/program"}});
  start_daemon();
  ASSERT_EQ(start_one("org.talk", true), 0);
  std::vector<std::string> lines;
  ASSERT_TRUE(eventually([&] {
    lines = log_lines(read_log("org.talk"));
    return !lines.empty() && lines.back() == "service exited with status 3";
  })) << testing::PrintToString(lines);
  ASSERT_EQ(lines.size(), 7u) << testing::PrintToString(lines);
  EXPECT_TRUE(lines[0].starts_with("service cannot write to /var/log/link.err: ")) << lines[0];
  EXPECT_TRUE(lines[1].starts_with("service started with pid ")) << lines[1];
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 2, lines.end() - 1),
            (std::vector<std::string>{"out one", "err two", "out bin\\xff\\x1b[2J", "out three"}));
  EXPECT_EQ(read_file(root_.real("/var/log/job.out")), "one\nbin\377\033[2J\r\nthree");
  EXPECT_EQ(read_file(outside), "") << "a planted link is not followed";
  std::filesystem::remove(outside);

  // Bad values read as defaults; a cursor gives only what came after it.
  EXPECT_EQ(log_lines(read_log("org.talk", {{"lines", 2}})).front(), "out three");
  EXPECT_EQ(log_lines(read_log("org.talk", {{"lines", -5}})).size(), 7u);
  EXPECT_EQ(log_lines(read_log("org.talk", {{"lines", "9"}, {"after", 4}})).size(), 7u);
  const Value all = read_log("org.talk", {{"after", "elsewhere:3"}});
  EXPECT_EQ(log_lines(all).size(), 7u);
  const Value none = read_log("org.talk", {{"after", all["cursor"]}});
  EXPECT_TRUE(log_lines(none).empty());
  EXPECT_EQ(none["cursor"], all["cursor"]);
  EXPECT_TRUE(all["entries"].as_array().front()["time"].is_date());
  EXPECT_EQ(read_log("no.such")["status"], Value(-2));

  EXPECT_EQ(start_one("org.missing", true), -3);
  EXPECT_EQ(log_lines(read_log("org.missing")),
            std::vector<std::string>{"service start failed: exec: No such file or directory"});
}

TEST_F(OrvanedTest, FollowingWithTheCursorPicksUpNewLinesAndTheStop) {
  const auto fifo = root_.path() / "say";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  write_job("org.echo", {{"ProgramArguments",
                          Array{"/bin/sh", "-c", "while :; do cat " + fifo.string() + "; done"}},
                         {"RunAtLoad", true}});
  start_daemon();
  const Value first = read_log("org.echo");
  int writer = -1;
  ASSERT_TRUE(
      eventually([&] { return (writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK)) >= 0; }));
  ASSERT_EQ(::write(writer, "hello\n", 6), 6);
  ::close(writer);
  Value next;
  EXPECT_TRUE(eventually(
      [&] {
        next = read_log("org.echo", {{"after", first["cursor"]}});
        return log_lines(next) == std::vector<std::string>{"out hello"};
      },
      200ms))
      << testing::PrintToString(log_lines(next));
  EXPECT_EQ(start_one("org.echo", false), 0);
  EXPECT_EQ(log_lines(read_log("org.echo", {{"after", next["cursor"]}})),
            std::vector<std::string>{"service killed by signal 15"});
}

TEST_F(OrvanedTest, AFloodOfOutputKeepsMemoryBoundedAndOtherRequestsAnswered) {
  write_job("org.flood",
            {{"ProgramArguments", Array{"/bin/sh", "-c", "head -c 100000000 /dev/zero"}}});
  // The address sanitizer holds freed memory in a quarantine (256 MiB by default) that would
  // count as the flood's; a small one leaves the service's own bound to be measured.
  if (kSanitized) {
    const char* options = std::getenv("ASAN_OPTIONS");
    ::setenv("ASAN_OPTIONS",
             (std::string(options ? options : "") + ":quarantine_size_mb=8").c_str(), 1);
  }
  start_daemon();
  const long before = proc_status_number(daemon_, "VmRSS");
  ASSERT_EQ(start_one("org.flood", true), 0);
  ASSERT_TRUE(eventually(
      [&] {
        EXPECT_FALSE(send("listAll").is_null()) << "answered during the flood";
        return log_lines(read_log("org.flood", {{"lines", 1}})) ==
               std::vector<std::string>{"service exited with status 0"};
      },
      60s));
  const long peak = proc_status_number(daemon_, "VmHWM");
  EXPECT_LT(peak - before, 64 * 1024) << "KiB above the resident memory before the flood";
  // One line without end, in pieces of 4096 bytes, each byte shown as "\x00".
  const Array kept = read_log("org.flood", {{"lines", 10'000}})["entries"].as_array();
  EXPECT_LT(kept.size(), 10'000u) << "the reply's byte bound";
  const std::string& piece = kept.at(0)["text"].as_string();
  EXPECT_EQ(piece.size(), 4096u * 4);
  EXPECT_EQ(piece.find_first_not_of("\\x0"), std::string::npos);
}

}  // namespace
}  // namespace orv::test
