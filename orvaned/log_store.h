// The last lines of one job's log: what it wrote on standard output and error, and the
// service's own lines about it. Bounded in lines and in bytes (the oldest go first), so a job
// that floods costs a fixed amount of memory. Every line gets the next sequence number; a
// cursor names one line of one run of the service, so a cursor from an earlier run (or from
// another job) reads as no cursor. Thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "orvaned/job_backend.h"

namespace orv::service {

// Per job: at most this many lines, and this many bytes of text plus kEntryOverhead per line.
inline constexpr std::size_t kMaxStoredLines = 100'000;
inline constexpr std::size_t kMaxStoredBytes = 12 * 1024 * 1024;
inline constexpr std::size_t kEntryOverhead = 64;
// The most text one page carries (its newest lines first): far below a messaging-center frame
// (16 MiB) and below what a property-list reader accepts from a small file, which a reply
// of many equal lines is once its encoder has shared their texts.
inline constexpr std::size_t kMaxPageTextBytes = 4 * 1024 * 1024;
// The longest line, before escaping; longer ones are cut into pieces of this size.
inline constexpr std::size_t kMaxLineBytes = 4096;

class LogStore {
 public:
  LogStore();
  LogStore(const LogStore&) = delete;
  LogStore& operator=(const LogStore&) = delete;

  // Stores the text as it is: callers give it escaped and of bounded length.
  void append(LogStream stream, std::string text);
  // The last `lines` entries, only those after the cursor when it names a line of this store,
  // and no more than kMaxPageTextBytes of text.
  LogPage page(std::size_t lines, const std::optional<std::string>& after) const;
  // How many lines it holds now.
  std::size_t size() const;

 private:
  struct Stored {
    std::uint64_t sequence;
    LogEntry entry;
  };
  std::string cursor_of(std::uint64_t sequence) const;
  std::optional<std::uint64_t> sequence_of(std::string_view cursor) const;

  const std::string run_;  // tells this store's cursors from any other's
  mutable std::mutex mutex_;
  std::deque<Stored> lines_;
  std::size_t bytes_ = 0;
  std::uint64_t next_ = 1;
};

}  // namespace orv::service
