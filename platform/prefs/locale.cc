#include "platform/prefs/locale.h"

#include <algorithm>
#include <cstdlib>

namespace orv {

namespace {

bool is_ascii_letter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

char ascii_lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// The language part of a locale name: the leading letters before "_", "-", "." or "@",
// lower-cased, written into out (at most capacity characters). Returns its length, 0 when the
// name does not start with a language.
std::size_t language_code_into(std::string_view name, char* out, std::size_t capacity) {
  if (name == "C" || name == "POSIX" || name.starts_with("C.") || name.starts_with("POSIX.")) {
    out[0] = 'e';
    out[1] = 'n';
    return 2;
  }
  std::size_t length = 0;
  while (length < name.size() && is_ascii_letter(name[length]))
    ++length;
  const bool ends_cleanly = length == name.size() || name[length] == '_' || name[length] == '-' ||
                            name[length] == '.' || name[length] == '@';
  if (length == 0 || length > capacity || !ends_cleanly) return 0;
  for (std::size_t i = 0; i < length; ++i)
    out[i] = ascii_lower(name[i]);
  return length;
}

std::string_view environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string_view(value) : std::string_view();
}

// LC_ALL overrides LC_MESSAGES, which overrides LANG.
std::string_view messages_locale_name() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    std::string_view value = environment(name);
    if (!value.empty()) return value;
  }
  return {};
}

// Calls visit(name) for each entry of LANGUAGE and then the messages locale, in order, until
// visit returns true.
template <typename Visit>
void for_each_preference(Visit visit) {
  std::string_view list = environment("LANGUAGE");
  while (!list.empty()) {
    const std::size_t colon = list.find(':');
    std::string_view entry = list.substr(0, colon);
    if (!entry.empty() && visit(entry)) return;
    if (colon == std::string_view::npos) break;
    list.remove_prefix(colon + 1);
  }
  std::string_view locale = messages_locale_name();
  if (!locale.empty()) visit(locale);
}

}  // namespace

std::string language_of_locale_name(std::string_view name) {
  char code[16];
  return std::string(code, language_code_into(name, code, sizeof code));
}

std::vector<std::string> preferred_languages() {
  std::vector<std::string> languages;
  for_each_preference([&](std::string_view name) {
    std::string code = language_of_locale_name(name);
    if (!code.empty() && std::find(languages.begin(), languages.end(), code) == languages.end())
      languages.push_back(std::move(code));
    return false;
  });
  return languages;
}

NSLocale NSLocale::currentLocale() {
  NSLocale locale;
  for_each_preference([&](std::string_view name) {
    locale.length_ = language_code_into(name, locale.code_, kMaxCode);
    return locale.length_ != 0;
  });
  if (locale.length_ == 0) {
    locale.code_[0] = 'e';
    locale.code_[1] = 'n';
    locale.length_ = 2;
  }
  return locale;
}

}  // namespace orv
