#include "platform/plist/plist_text.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace orv::plist_detail {

namespace {

// Days between 2001-01-01 and 1970-01-01.
constexpr std::int64_t kEpochDays2001 = 11323;
constexpr std::int64_t kSecondsPerDay = 86400;

// Days since 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's algorithm).
std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void civil_from_days(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
}

bool is_leap(std::int64_t y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

unsigned days_in_month(std::int64_t y, unsigned m) {
  static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && is_leap(y) ? 29 : kDays[m - 1];
}

// Reads exactly n digits at text[pos].
bool digits(std::string_view text, std::size_t pos, std::size_t n, unsigned& out) {
  out = 0;
  for (std::size_t i = pos; i < pos + n; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    out = out * 10 + static_cast<unsigned>(text[i] - '0');
  }
  return true;
}

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int base64_digit(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

std::optional<Date> parse_iso8601(std::string_view text) {
  // YYYY-MM-DDTHH:MM:SSZ
  if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
      text[16] != ':' || text[19] != 'Z')
    return std::nullopt;
  unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (!digits(text, 0, 4, year) || !digits(text, 5, 2, month) || !digits(text, 8, 2, day) ||
      !digits(text, 11, 2, hour) || !digits(text, 14, 2, minute) || !digits(text, 17, 2, second))
    return std::nullopt;
  if (month < 1 || month > 12 || day < 1 || day > days_in_month(year, month) || hour > 23 ||
      minute > 59 || second > 59)
    return std::nullopt;
  const std::int64_t days = days_from_civil(year, month, day) - kEpochDays2001;
  const std::int64_t seconds = days * kSecondsPerDay + hour * 3600 + minute * 60 + second;
  return Date{static_cast<double>(seconds)};
}

std::optional<std::string> format_iso8601(Date date) {
  // Years 0000 to 9999 span about +-63e9 seconds around 2001; check before converting.
  if (!(std::fabs(date.seconds) < 1e12)) return std::nullopt;
  const auto seconds = static_cast<std::int64_t>(std::floor(date.seconds));
  std::int64_t days = seconds / kSecondsPerDay;
  std::int64_t rest = seconds % kSecondsPerDay;
  if (rest < 0) rest += kSecondsPerDay, --days;
  std::int64_t year = 0;
  unsigned month = 0, day = 0;
  civil_from_days(days + kEpochDays2001, year, month, day);
  if (year < 0 || year > 9999) return std::nullopt;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(year), month,
                day, static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                static_cast<int>(rest % 60));
  return std::string(buf);
}

std::optional<Bytes> decode_base64(std::string_view text) {
  Bytes out;
  out.reserve(text.size() / 4 * 3);
  std::uint32_t bits = 0;
  int pending = 0;  // base64 digits collected in bits
  int padding = 0;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') continue;
    if (c == '=') {
      ++padding;
      continue;
    }
    const int digit = base64_digit(c);
    if (digit < 0 || padding > 0) return std::nullopt;  // digits after padding
    bits = (bits << 6) | static_cast<std::uint32_t>(digit);
    if (++pending == 4) {
      out.push_back(static_cast<std::uint8_t>(bits >> 16));
      out.push_back(static_cast<std::uint8_t>(bits >> 8));
      out.push_back(static_cast<std::uint8_t>(bits));
      bits = 0;
      pending = 0;
    }
  }
  // A final group of 2 or 3 digits carries 1 or 2 bytes; padding, if present, completes it.
  if (pending == 1 || (padding > 0 && (pending < 2 || pending + padding != 4))) return std::nullopt;
  if (pending == 2) out.push_back(static_cast<std::uint8_t>(bits >> 4));
  if (pending == 3) {
    out.push_back(static_cast<std::uint8_t>(bits >> 10));
    out.push_back(static_cast<std::uint8_t>(bits >> 2));
  }
  return out;
}

std::string encode_base64(const Bytes& data) {
  std::string out;
  out.reserve((data.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= data.size(); i += 3) {
    const std::uint32_t bits = (data[i] << 16) | (data[i + 1] << 8) | data[i + 2];
    for (int shift = 18; shift >= 0; shift -= 6)
      out += kAlphabet[(bits >> shift) & 0x3F];
  }
  const std::size_t rest = data.size() - i;
  if (rest > 0) {
    const std::uint32_t bits = (data[i] << 16) | (rest == 2 ? data[i + 1] << 8 : 0);
    out += kAlphabet[(bits >> 18) & 0x3F];
    out += kAlphabet[(bits >> 12) & 0x3F];
    out += rest == 2 ? kAlphabet[(bits >> 6) & 0x3F] : '=';
    out += '=';
  }
  return out;
}

}  // namespace orv::plist_detail
