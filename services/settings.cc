#include "services/settings.h"

#include <memory>
#include <string>
#include <utility>

#include "platform/prefs/user_defaults.h"

namespace {

constexpr std::string_view kSettingsKey = "velnor.orvane";

std::shared_ptr<orv::NSUserDefaults> _usrdefs;

// A stored value that is not a dictionary cannot be a settings dictionary or a table, and
// counts as an empty one.
orv::Dictionary dictionary_in(const orv::Value& stored) {
  if (const orv::Dictionary* dictionary = stored.if_dictionary()) return *dictionary;
  return orv::Dictionary();
}

void set_or_remove(orv::Dictionary& dictionary, std::string_view key, orv::Value value) {
  if (value.is_null())
    dictionary.remove(key);
  else
    dictionary.set(std::string(key), std::move(value));
}

// Changes one key of the settings dictionary as stored when the write happens.
template <typename Change>
void update_settings(std::string_view key, Change change) {
  _usrdefs->updateObject(kSettingsKey, [key = std::string(key), change](const orv::Value& stored) {
    orv::Dictionary settings = dictionary_in(stored);
    const orv::Value* current = settings.find(key);
    set_or_remove(settings, key, change(current ? *current : orv::Value()));
    return orv::Value(std::move(settings));
  });
}

}  // namespace

void initPref() {
  if (!_usrdefs) _usrdefs = orv::NSUserDefaults::standardUserDefaults();
}

orv::Value getPref(std::string_view key, const orv::Value& default_value) {
  initPref();
  const orv::Value stored = _usrdefs->objectForKey(kSettingsKey);
  if (const orv::Dictionary* settings = stored.if_dictionary()) {
    if (const orv::Value* value = settings->find(key)) return *value;
    return default_value;
  }
  // The first read stores an empty settings dictionary. Should that write fail, nothing is
  // lost: every reader takes a missing dictionary for an empty one.
  _usrdefs->updateObject(
      kSettingsKey,
      [](const orv::Value& now) {
        return now.is_dictionary() ? now : orv::Value(orv::Dictionary());
      },
      orv::NSUserDefaults::Unsaved::Drop);
  return default_value;
}

void setPref(std::string_view key, const orv::Value& value) {
  initPref();
  update_settings(key, [value](const orv::Value&) { return value; });
}

void setPrefEntry(std::string_view key, std::string_view entry, const orv::Value& value) {
  initPref();
  update_settings(key, [entry = std::string(entry), value](const orv::Value& table) {
    orv::Dictionary entries = dictionary_in(table);
    set_or_remove(entries, entry, value);
    return orv::Value(std::move(entries));
  });
}
