// Splits arbitrary bytes into a method, Host, Origin, Cookie and query token, as a browser or a
// hostile page may send them, and into a --listen address. The guard must never admit a request
// that lacks the token, and a listen address it accepts must read back the same from the text
// it is written as.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "host/web/web_security.h"

namespace {

using namespace orv::host::web;

constexpr std::string_view kToken = "00112233445566778899aabbccddeeff0011223344556677";

std::array<std::string_view, 6> fields_of(std::string_view text) {
  std::array<std::string_view, 6> fields{};
  for (std::string_view& field : fields) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    field = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
  }
  return fields;
}

void check_guard(const std::array<std::string_view, 6>& f) {
  static const RequestGuard guard(std::string(kToken), {"127.0.0.1", 8080});
  const RequestFacts facts{f[0], f[1], f[2], f[3], f[4]};
  if (guard.check(facts)) return;
  if (f[4] != kToken && f[3].find(kToken) == std::string_view::npos) std::abort();
}

void check_listen_address(std::string_view text) {
  const orv::Result<ListenAddress> address = parse_listen_address(text);
  if (!address) return;
  const orv::Result<ListenAddress> again = parse_listen_address(authority(*address));
  if (!again || again->host != address->host || again->port != address->port) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::array<std::string_view, 6> fields =
      fields_of(std::string_view(reinterpret_cast<const char*>(data), size));
  check_guard(fields);
  check_listen_address(fields[5]);
  return 0;
}
