// A bundle directory with its localized strings tables and its Info.plist.
//
// Strings tables live at <bundle>/<language>.lproj/<table>.strings, each a property-list
// dictionary (XML or binary). The language is chosen on every lookup, among the languages the
// bundle ships: the first preferred language it has, else its development region
// (CFBundleDevelopmentRegion of Info.plist), else "en". Tables are read once per bundle object
// and kept, since a bundle's resources do not change while a process runs.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/value/value.h"

namespace orv {

class NSBundle {
 public:
  // The bundle at a logical path (mapped through the root prefix); null when that directory
  // does not exist.
  static std::shared_ptr<NSBundle> bundleWithPath(std::string_view logical_path);

  NSBundle(std::string logical_path, std::filesystem::path real_path);

  // The text of key in the table (empty: "Localizable") of the chosen language; value when
  // the key has no text there, or key itself when value is empty too.
  std::string localizedStringForKey(std::string_view key, std::string_view value,
                                    std::string_view table = {});
  // The bundle's Info.plist: a dictionary, or null when missing or unreadable.
  Value infoDictionary();

  // The language whose table a lookup uses now ("en" when the bundle ships none).
  std::string chosen_language();

  const std::filesystem::path& real_path() const { return real_path_; }
  const std::string& logical_path() const { return logical_path_; }

 private:
  struct Localization {
    std::string directory;  // "zh-Hans" of zh-Hans.lproj
    std::string language;   // "zh"
  };

  const std::vector<Localization>& localizations_locked();
  // The choice depends only on the environment's locale variables (the shipped languages and
  // the development region are read once), so it is worked out again only when they change.
  const std::string& chosen_directory_locked();
  std::string choose_directory_locked();
  // The default table of the chosen language; tables_ never drops an entry, so the reference
  // stays valid.
  const Dictionary& chosen_default_table_locked();
  const Value& info_dictionary_locked();
  const Dictionary& table_locked(const std::string& directory, std::string_view table);

  std::string logical_path_;
  std::filesystem::path real_path_;
  std::mutex mutex_;
  bool scanned_ = false;
  std::vector<Localization> localizations_;
  bool info_loaded_ = false;
  Value info_;
  std::map<std::string, Dictionary, std::less<>> tables_;  // "<directory>/<table>"
  bool chosen_once_ = false;
  std::string chosen_for_language_list_, chosen_for_messages_locale_;
  std::string chosen_directory_;
  const Dictionary* chosen_default_table_ = nullptr;  // of chosen_directory_, once read
};

}  // namespace orv
