#include "platform/prefs/bundle.h"

#include <algorithm>
#include <system_error>

#include "platform/fs/root.h"
#include "platform/plist/plist_file.h"
#include "platform/prefs/locale.h"

namespace orv {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kLocalizationSuffix = ".lproj";
constexpr std::string_view kDefaultTable = "Localizable";

}  // namespace

std::shared_ptr<NSBundle> NSBundle::bundleWithPath(std::string_view logical_path) {
  fs::path real = orv::real_path(logical_path);
  std::error_code ec;
  if (!fs::is_directory(real, ec)) return nullptr;
  return std::make_shared<NSBundle>(std::string(logical_path), std::move(real));
}

NSBundle::NSBundle(std::string logical_path, fs::path real_path)
    : logical_path_(std::move(logical_path)), real_path_(std::move(real_path)) {}

std::string NSBundle::localizedStringForKey(std::string_view key, std::string_view value,
                                            std::string_view table) {
  std::lock_guard guard(mutex_);
  const Dictionary& strings = (table.empty() || table == kDefaultTable)
                                  ? chosen_default_table_locked()
                                  : table_locked(chosen_directory_locked(), table);
  if (const Value* text = strings.find(key); text && text->is_string()) return text->as_string();
  return std::string(value.empty() ? key : value);
}

Value NSBundle::infoDictionary() {
  std::lock_guard guard(mutex_);
  return info_dictionary_locked();
}

std::string NSBundle::chosen_language() {
  std::lock_guard guard(mutex_);
  std::string directory = chosen_directory_locked();
  std::string language = language_of_locale_name(directory);
  return language.empty() ? directory : language;
}

const std::vector<NSBundle::Localization>& NSBundle::localizations_locked() {
  if (scanned_) return localizations_;
  scanned_ = true;
  std::error_code ec;
  for (fs::directory_iterator it(real_path_, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (!name.ends_with(kLocalizationSuffix) || !it->is_directory(ec)) continue;
    std::string directory = name.substr(0, name.size() - kLocalizationSuffix.size());
    std::string language = language_of_locale_name(directory);
    localizations_.push_back({std::move(directory), std::move(language)});
  }
  // Directory order is arbitrary; sorting makes the choice among "zh-Hans" and "zh-Hant"
  // stable. An exact "zh" sorts before both and so wins.
  std::sort(localizations_.begin(), localizations_.end(),
            [](const Localization& a, const Localization& b) { return a.directory < b.directory; });
  return localizations_;
}

const std::string& NSBundle::chosen_directory_locked() {
  const LocaleEnvironment now = locale_environment();
  if (!chosen_once_ || now.language_list != chosen_for_language_list_ ||
      now.messages_locale != chosen_for_messages_locale_) {
    chosen_directory_ = choose_directory_locked();
    chosen_default_table_ = nullptr;
    chosen_for_language_list_.assign(now.language_list);
    chosen_for_messages_locale_.assign(now.messages_locale);
    chosen_once_ = true;
  }
  return chosen_directory_;
}

const Dictionary& NSBundle::chosen_default_table_locked() {
  const std::string& directory = chosen_directory_locked();
  if (!chosen_default_table_) chosen_default_table_ = &table_locked(directory, kDefaultTable);
  return *chosen_default_table_;
}

std::string NSBundle::choose_directory_locked() {
  const std::vector<Localization>& shipped = localizations_locked();
  for (const std::string& wanted : preferred_languages()) {
    for (const Localization& localization : shipped)
      if (localization.language == wanted) return localization.directory;
  }
  const Value& region = info_dictionary_locked()["CFBundleDevelopmentRegion"];
  if (region.is_string() && !region.as_string().empty()) {
    for (const Localization& localization : shipped)
      if (localization.directory == region.as_string()) return localization.directory;
    const std::string region_language = language_of_locale_name(region.as_string());
    for (const Localization& localization : shipped)
      if (localization.language == region_language) return localization.directory;
  }
  return "en";
}

const Value& NSBundle::info_dictionary_locked() {
  if (!info_loaded_) {
    info_loaded_ = true;
    Result<Value> info = read_plist_file(real_path_ / "Info.plist");
    if (info && info->is_dictionary()) info_ = std::move(*info);
  }
  return info_;
}

const Dictionary& NSBundle::table_locked(const std::string& directory, std::string_view table) {
  if (table.empty()) table = kDefaultTable;
  std::string cache_key = directory + "/" + std::string(table);
  if (auto found = tables_.find(cache_key); found != tables_.end()) return found->second;

  Dictionary strings;
  const fs::path file = real_path_ / (directory + std::string(kLocalizationSuffix)) /
                        (std::string(table) + ".strings");
  Result<Value> loaded = read_plist_file(file);
  if (loaded && loaded->is_dictionary()) strings = loaded->as_dictionary();
  // A missing or broken table is remembered as empty, so it is not read again on every call.
  return tables_.emplace(std::move(cache_key), std::move(strings)).first->second;
}

}  // namespace orv
