#include "orvaned/log_store.h"

#include <algorithm>
#include <charconv>
#include <random>

namespace orv::service {

namespace {

std::string random_run_token() {
  std::random_device device;
  std::uint64_t token = (std::uint64_t{device()} << 32) | device();
  char text[17];
  auto end = std::to_chars(text, text + 16, token, 16).ptr;
  return std::string(text, end);
}

std::size_t cost(const std::string& text) {
  return text.size() + kEntryOverhead;
}

}  // namespace

LogStore::LogStore() : run_(random_run_token()) {}

void LogStore::append(LogStream stream, std::string text) {
  std::lock_guard lock(mutex_);
  bytes_ += cost(text);
  lines_.push_back({next_++, {std::chrono::system_clock::now(), stream, std::move(text)}});
  while (lines_.size() > kMaxStoredLines || (bytes_ > kMaxStoredBytes && lines_.size() > 1)) {
    bytes_ -= cost(lines_.front().entry.text);
    lines_.pop_front();
  }
}

std::size_t LogStore::size() const {
  std::lock_guard lock(mutex_);
  return lines_.size();
}

std::string LogStore::cursor_of(std::uint64_t sequence) const {
  return run_ + ":" + std::to_string(sequence);
}

std::optional<std::uint64_t> LogStore::sequence_of(std::string_view cursor) const {
  if (!cursor.starts_with(run_) || cursor.size() <= run_.size() + 1 || cursor[run_.size()] != ':')
    return std::nullopt;
  std::string_view digits = cursor.substr(run_.size() + 1);
  std::uint64_t sequence = 0;
  auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), sequence);
  if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return sequence;
}

LogPage LogStore::page(std::size_t lines, const std::optional<std::string>& after) const {
  std::lock_guard lock(mutex_);
  // Sequences start at 1: 0 is before every line.
  const std::uint64_t seen = after ? sequence_of(*after).value_or(0) : 0;
  // Sequences rise along the deque, so the first line after the cursor is found by halving.
  auto first_new =
      std::upper_bound(lines_.begin(), lines_.end(), seen,
                       [](std::uint64_t s, const Stored& line) { return s < line.sequence; });
  auto begin = lines_.end();
  std::size_t text_bytes = 0;
  for (std::size_t taken = 0; begin != first_new && taken < lines; ++taken) {
    text_bytes += std::prev(begin)->entry.text.size();
    if (text_bytes > kMaxPageTextBytes) break;
    --begin;
  }
  LogPage page;
  page.entries.reserve(static_cast<std::size_t>(lines_.end() - begin));
  for (auto it = begin; it != lines_.end(); ++it)
    page.entries.push_back(it->entry);
  // With nothing new the cursor stays where the caller was.
  const std::uint64_t newest = next_ - 1;
  page.cursor = cursor_of(page.entries.empty() && seen > 0 ? std::min(seen, newest) : newest);
  return page;
}

}  // namespace orv::service
