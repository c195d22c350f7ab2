#include "host/web/web_security.h"

#include <arpa/inet.h>
#include <sys/random.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>

namespace orv::host::web {

namespace {

constexpr std::string_view kCookieName = "orvane_token";
constexpr std::size_t kTokenBytes = 24;

bool is_ip_literal(std::string_view host) {
  std::string text(host);
  std::array<unsigned char, 16> binary{};
  return inet_pton(AF_INET, text.c_str(), binary.data()) == 1 ||
         inet_pton(AF_INET6, text.c_str(), binary.data()) == 1;
}

bool is_wildcard(std::string_view host) {
  return host == "0.0.0.0" || host == "::";
}

bool is_loopback(std::string_view host) {
  return host.starts_with("127.") || host == "::1" || host == "localhost";
}

// Splits "name:port" or "[v6]:port"; the name without brackets.
std::optional<std::pair<std::string_view, std::string_view>> split_authority(
    std::string_view text) {
  std::size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) return std::nullopt;
  std::string_view host = text.substr(0, colon), port = text.substr(colon + 1);
  if (host.starts_with('[')) {
    if (!host.ends_with(']')) return std::nullopt;
    host = host.substr(1, host.size() - 2);
  } else if (host.find(':') != std::string_view::npos) {
    return std::nullopt;  // an IPv6 address needs its brackets
  }
  return std::pair{host, port};
}

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](unsigned char x, unsigned char y) {
    return std::tolower(x) == std::tolower(y);
  });
}

// The value of one cookie in a Cookie header ("a=1; b=2").
std::string_view cookie_value(std::string_view header, std::string_view name) {
  while (!header.empty()) {
    std::size_t end = std::min(header.find(';'), header.size());
    std::string_view pair = header.substr(0, end);
    header.remove_prefix(std::min(end + 1, header.size()));
    while (pair.starts_with(' '))
      pair.remove_prefix(1);
    if (pair.size() > name.size() && pair.starts_with(name) && pair[name.size()] == '=')
      return pair.substr(name.size() + 1);
  }
  return {};
}

}  // namespace

Result<ListenAddress> parse_listen_address(std::string_view text) {
  auto parts = split_authority(text);
  if (!parts) return fail("--listen takes HOST:PORT");
  auto [host, port_text] = *parts;
  int port = -1;
  auto [end, error] = std::from_chars(port_text.data(), port_text.data() + port_text.size(), port);
  if (error != std::errc() || end != port_text.data() + port_text.size() || port < 0 ||
      port > 65535)
    return fail("--listen: the port must be a number from 0 to 65535");
  ListenAddress address{std::string(host.empty() ? kDefaultListenHost : host), port};
  if (address.host.find_first_of("/ \t\r\n") != std::string::npos)
    return fail("--listen: not a host name: " + address.host);
  return address;
}

std::string authority(const ListenAddress& address) {
  bool v6 = address.host.find(':') != std::string::npos;
  return (v6 ? "[" + address.host + "]" : address.host) + ":" + std::to_string(address.port);
}

Result<std::string> new_token() {
  std::array<unsigned char, kTokenBytes> bytes{};
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    ssize_t got = getrandom(bytes.data() + filled, bytes.size() - filled, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return fail_errno("getrandom");
    filled += static_cast<std::size_t>(got);
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string token;
  for (unsigned char byte : bytes) {
    token += kHex[byte >> 4];
    token += kHex[byte & 15];
  }
  return token;
}

RequestGuard::RequestGuard(std::string token, ListenAddress bound)
    : token_(std::move(token)), bound_(std::move(bound)) {}

// The Host must name the address listened on (or "localhost" for a loopback address); when
// listening on every address, any IP address will do, since only a DNS name can be rebound.
bool RequestGuard::host_allowed(std::string_view host) const {
  auto parts = split_authority(host);
  if (!parts || parts->second != std::to_string(bound_.port)) return false;
  std::string_view name = parts->first;
  if (equal_ignoring_case(name, bound_.host)) return true;
  if (is_loopback(bound_.host) && equal_ignoring_case(name, "localhost")) return true;
  return is_wildcard(bound_.host) && is_ip_literal(name);
}

// Compares in time independent of where the strings differ.
bool RequestGuard::token_matches(std::string_view candidate) const {
  if (candidate.size() != token_.size()) return false;
  unsigned char difference = 0;
  for (std::size_t i = 0; i < token_.size(); ++i)
    difference |= static_cast<unsigned char>(candidate[i] ^ token_[i]);
  return difference == 0;
}

bool RequestGuard::token_in_query(std::string_view query_token) const {
  return token_matches(query_token);
}

std::optional<Refusal> RequestGuard::check(const RequestFacts& request) const {
  if (!host_allowed(request.host)) return Refusal{421, "the Host header names another address"};
  if (!token_matches(request.query_token) &&
      !token_matches(cookie_value(request.cookie, kCookieName)))
    return Refusal{403, "open the address orvane web printed, with its token"};
  if (request.method != "GET" && request.method != "HEAD" &&
      request.origin != "http://" + std::string(request.host))
    return Refusal{403, "the request does not come from the page"};
  return std::nullopt;
}

std::string RequestGuard::cookie() const {
  return std::string(kCookieName) + "=" + token_ + "; Path=/; HttpOnly; SameSite=Strict";
}

}  // namespace orv::host::web
