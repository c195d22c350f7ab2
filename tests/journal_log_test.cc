// A unit's log read from journal files that the test writes with the journal's own remote
// writer (from the export format), as the systemd backend reads the machine's journal.
#include "orvaned/journal_log.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "tests/support/test_support.h"

namespace orv::test {
namespace {

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
  std::vector<std::string> out;
  if (!page) return {"error: " + page.error().message};
  for (const service::LogEntry& e : page->entries)
    out.push_back(std::string(e.stream == service::LogStream::Out   ? "out "
                              : e.stream == service::LogStream::Err ? "err "
                                                                    : "service ") +
                  e.text);
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
