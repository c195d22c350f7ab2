#include "services/localization.h"

#include <memory>

#include "platform/prefs/bundle.h"

namespace {

constexpr std::string_view kBundlePath = "/Library/PreferenceBundles/OrvanePrefs.bundle";

std::shared_ptr<orv::NSBundle> bundle;

// The plugin's bundle, obtained on first use; while there is none, every call tries again.
orv::NSBundle* plugin_bundle() {
  if (!bundle) bundle = orv::NSBundle::bundleWithPath(kBundlePath);
  return bundle.get();
}

}  // namespace

std::string localize(std::string_view key) {
  orv::NSBundle* strings = plugin_bundle();
  if (!key.starts_with('$')) return std::string(key);
  if (!strings) return std::string(key);
  return strings->localizedStringForKey(key, key);
}

std::string localize(const char* key) {
  return localize(std::string_view(key ? key : ""));
}

std::string localize(const std::string& key) {
  return localize(std::string_view(key));
}

orv::Value localize(const orv::Value& key) {
  if (key.is_null()) {
    plugin_bundle();
    return orv::Value();
  }
  if (const std::string* text = key.if_string()) return orv::Value(localize(*text));
  return key;
}
