// Feeds arbitrary bytes, as a job may write them, to the log's escaping and store, and uses the
// same bytes as a peer's cursor. Stored text must hold no control character and no malformed
// UTF-8 (so escaping it again only doubles its backslashes), and a page must stay within the
// store's caps whatever the cursor says.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "orvaned/log.h"
#include "orvaned/log_store.h"

namespace {

using namespace orv::service;

std::string with_backslashes_doubled(std::string_view text) {
  std::string out;
  for (char c : text) {
    out += c;
    if (c == '\\') out += '\\';
  }
  return out;
}

void check_escaped(std::string_view raw) {
  const std::string text = escaped(raw);
  for (unsigned char c : text)
    if (c < 0x20 || c == 0x7F) std::abort();
  if (escaped(text) != with_backslashes_doubled(text)) std::abort();
}

void check_page(LogStore& store, std::string_view raw) {
  store.append(LogStream::Out, escaped(raw.substr(0, kMaxLineBytes)));
  const std::size_t lines = 1 + raw.size() % LogQuery::kMaxLines;
  const LogPage page = store.page(lines, std::string(raw));
  std::size_t bytes = 0;
  for (const LogEntry& entry : page.entries)
    bytes += entry.text.size();
  if (page.entries.size() > lines || bytes > kMaxPageTextBytes || store.size() > kMaxStoredLines)
    std::abort();
  // The page's own cursor names its newest line, so nothing is newer.
  if (!page.cursor.empty() && !store.page(lines, page.cursor).entries.empty()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static LogStore store;
  const std::string_view raw(reinterpret_cast<const char*>(data), size);
  check_escaped(raw);
  check_page(store, raw);
  return 0;
}
