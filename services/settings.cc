#include "services/settings.h"

#include <memory>
#include <string>

#include "platform/prefs/user_defaults.h"

namespace {

constexpr std::string_view kSettingsKey = "velnor.orvane";

std::shared_ptr<orv::NSUserDefaults> _usrdefs;

// The settings dictionary as stored now. When there is none, an empty one is stored and
// returned. A value under the key that is not a dictionary cannot be a settings dictionary
// and counts as none, so it is replaced.
orv::Dictionary read_settings() {
  orv::Value stored = _usrdefs->objectForKey(kSettingsKey);
  if (const orv::Dictionary* settings = stored.if_dictionary()) return *settings;
  _usrdefs->setObject(orv::Value(orv::Dictionary()), kSettingsKey);
  return orv::Dictionary();
}

}  // namespace

void initPref() {
  if (!_usrdefs) _usrdefs = orv::NSUserDefaults::standardUserDefaults();
}

orv::Value getPref(std::string_view key, const orv::Value& default_value) {
  initPref();
  const orv::Dictionary settings = read_settings();
  if (const orv::Value* value = settings.find(key)) return *value;
  return default_value;
}

void setPref(std::string_view key, const orv::Value& value) {
  initPref();
  orv::Dictionary settings = read_settings();
  if (value.is_null())
    settings.remove(key);
  else
    settings.set(std::string(key), value);
  _usrdefs->setObject(orv::Value(std::move(settings)), kSettingsKey);
}
