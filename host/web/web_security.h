// Who may use the web page. The page can stop services, so every request must carry the
// random token given on the command line's first output line (later: the cookie the first
// visit set), name the listening address as its Host (a DNS name rebound to this machine does
// not), and, when it changes anything, come from the page's own origin.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/result.h"

namespace orv::host::web {

inline constexpr const char* kDefaultListenHost = "127.0.0.1";

struct ListenAddress {
  std::string host;  // as given; an IPv6 address without its brackets
  int port = 0;      // 0: any free port
};

// "HOST:PORT", "[IPv6]:PORT", or ":PORT" (the default host).
Result<ListenAddress> parse_listen_address(std::string_view text);
// "HOST:PORT" as it appears in a URL and a Host header.
std::string authority(const ListenAddress& address);

// A token of 192 random bits as hexadecimal, from the kernel's random source.
Result<std::string> new_token();

struct Refusal {
  int status = 403;
  std::string why;
};

struct RequestFacts {
  std::string_view method;
  std::string_view host;    // the Host header
  std::string_view origin;  // the Origin header, empty when absent
  std::string_view cookie;  // the Cookie header
  std::string_view query_token;
};

class RequestGuard {
 public:
  RequestGuard(std::string token, ListenAddress bound);

  // nullopt when the request may reach the page; else how to refuse it.
  std::optional<Refusal> check(const RequestFacts& request) const;
  // Whether the request carries the token in its query (the first visit).
  bool token_in_query(std::string_view query_token) const;
  // The Set-Cookie value that keeps the token after the first visit.
  std::string cookie() const;

 private:
  bool host_allowed(std::string_view host) const;
  bool token_matches(std::string_view candidate) const;

  std::string token_;
  ListenAddress bound_;
};

}  // namespace orv::host::web
