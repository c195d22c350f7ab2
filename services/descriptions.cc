#include "services/descriptions.h"

#include <optional>

#include "platform/plist/plist_file.h"
#include "platform/prefs/locale.h"
#include "services/localization.h"

namespace {

constexpr std::string_view kDescriptionsPath =
    "/Library/PreferenceBundles/OrvanePrefs.bundle/KnownDaemon.plist";

// Read on the first call only, even when that read finds nothing: edits to the file take
// effect in the next process.
const orv::Value& daemon_dic() {
  static const orv::Value loaded = orv::dictionary_with_contents_of_file(kDescriptionsPath);
  return loaded;
}

// The text of a description value for the language index (0 other languages, 1 Chinese).
// Entries are meant to hold an array of two strings. For anything else, what is usable is
// used: the other language's string when the wanted one is missing or not a string, a bare
// string as the text of both languages; nothing when neither gives a string.
std::optional<std::string_view> text_for_language(const orv::Value& texts, std::size_t index) {
  if (const std::string* only = texts.if_string()) return *only;
  const orv::Array* pair = texts.if_array();
  if (!pair) return std::nullopt;
  if (index < pair->size() && (*pair)[index].is_string()) return (*pair)[index].as_string();
  const std::size_t other = 1 - index;
  if (other < pair->size() && (*pair)[other].is_string()) return (*pair)[other].as_string();
  return std::nullopt;
}

}  // namespace

std::string get_desc(std::string_view label, bool long_form, std::string_view own_text) {
  const std::size_t index = orv::NSLocale::currentLocale().languageCode() == "zh" ? 1 : 0;
  const orv::Value& entry = daemon_dic()[label];
  // An entry that is not a dictionary is no description. A long text that is unusable falls
  // back to the short text; the list page never uses the long one.
  if (long_form) {
    if (auto text = text_for_language(entry["detail"], index)) return std::string(*text);
  }
  if (auto text = text_for_language(entry["simple"], index)) return std::string(*text);
  if (!own_text.empty()) return std::string(own_text);
  return localize("$UNKNOWN");
}
