// The one way an operation reports why it failed: Result<T> holds either the value or an Error.
// Where "no" needs no reason (a missing key, a null reply), plain std::optional is used instead.
#pragma once

#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>
#include <tl/expected.hpp>

namespace orv {

// One line for a log or a person, and the errno behind it when a system call failed (0
// otherwise), so that callers can tell "not there" from "not allowed" without parsing text.
struct Error {
  std::string message;
  int code = 0;

  // "<what>: <strerror(code)>", keeping the code.
  static Error from_errno(std::string_view what, int code = errno) {
    return Error{std::string(what) + ": " + std::strerror(code), code};
  }
};

template <class T>
using Result = tl::expected<T, Error>;

// Success without a value, or the reason for failure.
using Status = Result<void>;

inline tl::unexpected<Error> fail(std::string message, int code = 0) {
  return tl::unexpected<Error>(Error{std::move(message), code});
}
inline tl::unexpected<Error> fail(Error error) { return tl::unexpected<Error>(std::move(error)); }
inline tl::unexpected<Error> fail_errno(std::string_view what, int code = errno) {
  return tl::unexpected<Error>(Error::from_errno(what, code));
}

}  // namespace orv
