#include "host/bundle_loader.h"

#include <dlfcn.h>

#include <filesystem>
#include <system_error>

#include "platform/fs/root.h"
#include "platform/prefs/bundle.h"
#include "platform/ui/class_registry.h"

namespace orv::host {

namespace {

std::string string_entry(const Value& info, std::string_view key) {
  auto text = info[key].read_string();
  return text ? std::string(*text) : std::string();
}

tl::unexpected<Error> failure(const std::filesystem::path& path, std::string_view what) {
  return fail("cannot load the settings bundle " + path.string() + ": " + std::string(what));
}

}  // namespace

Result<LoadedBundle> load_bundle(std::string_view logical_dir) {
  std::filesystem::path dir = real_path(logical_dir);
  std::error_code ec;
  if (!std::filesystem::is_directory(dir, ec)) return failure(dir, "no such directory");

  auto bundle = NSBundle::bundleWithPath(logical_dir);
  Value info = bundle ? bundle->infoDictionary() : Value();
  if (!info.is_dictionary())
    return failure(dir / "Info.plist", "missing or not a property-list dictionary");

  std::string executable = string_entry(info, "CFBundleExecutable");
  std::string principal = string_entry(info, "NSPrincipalClass");
  if (executable.empty() || executable.find('/') != std::string::npos)
    return failure(dir / "Info.plist", "no usable CFBundleExecutable");
  if (principal.empty()) return failure(dir / "Info.plist", "no NSPrincipalClass");

  std::filesystem::path library = dir / executable;
  if (!dlopen(library.c_str(), RTLD_NOW | RTLD_GLOBAL)) {
    const char* error = dlerror();
    return failure(library, error ? error : "dlopen failed");
  }
  if (!ClassRegistry::shared().hasPage(principal))
    return failure(library, "the library registers no page class named " + principal);

  std::string name = string_entry(info, "CFBundleDisplayName");
  if (name.empty()) name = "Orvane";
  return LoadedBundle{principal, name};
}

}  // namespace orv::host
