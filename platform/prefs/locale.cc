#include "platform/prefs/locale.h"

#include <unistd.h>

#include <algorithm>
#include <optional>

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

// The name of a "NAME=value" entry (empty when it has no '='), and where its value starts.
std::string_view name_of(const char* entry, const char*& value) {
  const char* equals = entry;
  while (*equals != '\0' && *equals != '=')
    ++equals;
  if (*equals != '=') return {};
  value = equals + 1;
  return std::string_view(entry, static_cast<std::size_t>(equals - entry));
}

// Calls visit(name) for each entry of LANGUAGE and then the messages locale, in order, until
// visit returns true.
template <typename Visit>
void for_each_preference(Visit visit) {
  const LocaleEnvironment now = locale_environment();
  std::string_view list = now.language_list;
  while (!list.empty()) {
    const std::size_t colon = list.find(':');
    std::string_view entry = list.substr(0, colon);
    if (!entry.empty() && visit(entry)) return;
    if (colon == std::string_view::npos) break;
    list.remove_prefix(colon + 1);
  }
  if (!now.messages_locale.empty()) visit(now.messages_locale);
}

}  // namespace

LocaleEnvironment locale_environment() {
  // The first entry of a name counts, as for getenv. LC_ALL overrides LC_MESSAGES, which
  // overrides LANG; an empty value counts as unset.
  std::optional<std::string_view> language, all, messages, lang;
  for (char** entry = environ; entry && *entry; ++entry) {
    // Only "LA..." and "LC..." can match; most entries are passed over after two characters.
    if ((*entry)[0] != 'L' || ((*entry)[1] != 'A' && (*entry)[1] != 'C')) continue;
    const char* value = nullptr;
    const std::string_view name = name_of(*entry, value);
    std::optional<std::string_view>* slot = name == "LANGUAGE"      ? &language
                                            : name == "LC_ALL"      ? &all
                                            : name == "LC_MESSAGES" ? &messages
                                            : name == "LANG"        ? &lang
                                                                    : nullptr;
    if (slot && !*slot) *slot = std::string_view(value);
  }
  LocaleEnvironment now;
  now.language_list = language.value_or(std::string_view());
  for (const auto& candidate : {all, messages, lang}) {
    if (candidate && !candidate->empty()) {
      now.messages_locale = *candidate;
      break;
    }
  }
  return now;
}

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
