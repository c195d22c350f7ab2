// The user's language, chosen the way Linux programs choose it: LANGUAGE (a colon-separated
// list of preferences), then the first set of LC_ALL, LC_MESSAGES and LANG. Locale names are
// reduced to their language code: "zh_CN.UTF-8", "zh_TW" and "zh-Hant" all give "zh"; the
// "C" and "POSIX" locales give "en".
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace orv {

// The locale variables as the environment holds them now, found in one pass over it (the
// language is looked up on every description and every translated text, several times per
// list row). The views point into the environment and are valid until it changes.
struct LocaleEnvironment {
  std::string_view language_list;    // LANGUAGE
  std::string_view messages_locale;  // the first non-empty of LC_ALL, LC_MESSAGES, LANG
  friend bool operator==(const LocaleEnvironment&, const LocaleEnvironment&) = default;
};
LocaleEnvironment locale_environment();

// The preferred language codes, most preferred first, without repeats; empty when none of the
// variables is set.
std::vector<std::string> preferred_languages();

// The language code of a locale or language name ("zh_CN.UTF-8" -> "zh", "C" -> "en"); empty
// when the name holds no language.
std::string language_of_locale_name(std::string_view name);

class NSLocale {
 public:
  // The locale in force now; the environment is read on every call.
  static NSLocale currentLocale();
  // The language code of the most preferred language; "en" when nothing is set. Matches the
  // language that the bundles' strings tables are chosen by.
  std::string languageCode() const { return std::string(code_, length_); }

 private:
  static constexpr std::size_t kMaxCode = 15;
  char code_[kMaxCode] = {};
  std::size_t length_ = 0;
};

}  // namespace orv
