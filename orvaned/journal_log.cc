#include "orvaned/journal_log.h"

#include <systemd/sd-journal.h>

#include <cstdlib>
#include <deque>
#include <memory>
#include <string>

#include "orvaned/log.h"
#include "orvaned/log_store.h"

namespace orv::service {

namespace {

struct JournalCloser {
  void operator()(sd_journal* journal) const { sd_journal_close(journal); }
};
using Journal = std::unique_ptr<sd_journal, JournalCloser>;

Result<Journal> open_journal(const JournalPlace& place) {
  sd_journal* journal = nullptr;
  int error = 0;
  switch (place.kind) {
    case JournalPlace::Kind::System:
      error = sd_journal_open(&journal, SD_JOURNAL_SYSTEM | SD_JOURNAL_LOCAL_ONLY);
      break;
    case JournalPlace::Kind::User:
      error = sd_journal_open(&journal, SD_JOURNAL_CURRENT_USER | SD_JOURNAL_LOCAL_ONLY);
      break;
    case JournalPlace::Kind::Directory:
      error = sd_journal_open_directory(&journal, place.directory.c_str(), 0);
      break;
  }
  if (error < 0) return fail_errno("cannot open the journal", -error);
  return Journal(journal);
}

// Entries of the unit's processes, or of the manager about the unit.
Status match_unit(sd_journal* journal, std::string_view unit, bool user_units) {
  const std::string own =
      (user_units ? "_SYSTEMD_USER_UNIT=" : "_SYSTEMD_UNIT=") + std::string(unit);
  const std::string about = (user_units ? "USER_UNIT=" : "UNIT=") + std::string(unit);
  if (sd_journal_add_match(journal, own.data(), own.size()) < 0 ||
      sd_journal_add_disjunction(journal) < 0 ||
      sd_journal_add_match(journal, about.data(), about.size()) < 0)
    return fail("cannot match the unit " + std::string(unit));
  return {};
}

std::string_view field(sd_journal* journal, const char* name) {
  const void* data = nullptr;
  size_t length = 0;
  if (sd_journal_get_data(journal, name, &data, &length) < 0) return {};
  std::string_view text(static_cast<const char*>(data), length);
  const std::size_t equals = text.find('=');
  return equals == std::string_view::npos ? std::string_view() : text.substr(equals + 1);
}

// The manager's own lines about the unit are the service's; the unit's error-level lines (or
// worse) are its errors.
LogEntry entry_at(sd_journal* journal, std::string_view unit, bool user_units) {
  LogEntry entry;
  std::uint64_t usec = 0;
  sd_journal_get_realtime_usec(journal, &usec);
  entry.time = std::chrono::system_clock::time_point(std::chrono::microseconds(usec));
  const std::string_view own = field(journal, user_units ? "_SYSTEMD_USER_UNIT" : "_SYSTEMD_UNIT");
  const std::string_view priority = field(journal, "PRIORITY");
  if (own != unit)
    entry.stream = LogStream::Service;
  else if (priority.size() == 1 && priority[0] >= '0' && priority[0] <= '3')
    entry.stream = LogStream::Err;
  else
    entry.stream = LogStream::Out;
  entry.text = escaped(field(journal, "MESSAGE").substr(0, kMaxLineBytes));
  return entry;
}

// Moves to where reading starts: just after the cursor's entry, or the given number of entries
// before the end. True when the journal stands on the first entry to read; false when that is
// the next one.
bool position(sd_journal* journal, const LogQuery& query) {
  if (query.after && sd_journal_seek_cursor(journal, query.after->c_str()) >= 0 &&
      sd_journal_next(journal) > 0)
    return sd_journal_test_cursor(journal, query.after->c_str()) <= 0;
  sd_journal_seek_tail(journal);
  return sd_journal_previous_skip(journal, query.lines) > 0;
}

std::string cursor_here(sd_journal* journal) {
  char* cursor = nullptr;
  if (sd_journal_get_cursor(journal, &cursor) < 0) return {};
  std::string out(cursor);
  std::free(cursor);
  return out;
}

}  // namespace

Result<LogPage> read_journal(std::string_view unit, const LogQuery& query,
                             const JournalPlace& place) {
  Result<Journal> journal = open_journal(place);
  if (!journal) return fail(std::move(journal.error()));
  sd_journal* j = journal->get();
  if (Status matched = match_unit(j, unit, place.user_units); !matched)
    return fail(std::move(matched.error()));
  bool on_entry = position(j, query);
  LogPage page;
  page.cursor = query.after.value_or("");
  std::deque<LogEntry> last;
  std::size_t bytes = 0;
  for (; on_entry || sd_journal_next(j) > 0; on_entry = false) {
    last.push_back(entry_at(j, unit, place.user_units));
    bytes += last.back().text.size();
    while (last.size() > query.lines || bytes > kMaxPageTextBytes) {
      bytes -= last.front().text.size();
      last.pop_front();
    }
    page.cursor = cursor_here(j);
  }
  page.entries.assign(std::make_move_iterator(last.begin()), std::make_move_iterator(last.end()));
  return page;
}

}  // namespace orv::service
