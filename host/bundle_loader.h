// Loading the settings bundle: its Info.plist names the executable and the root page class;
// the executable is dlopen'ed, which registers its classes, and the root page is then made by
// name, exactly as the settings application does it.
#pragma once

#include <string>
#include <string_view>

#include "platform/result.h"

namespace orv::host {

inline constexpr std::string_view kBundlePath = "/Library/PreferenceBundles/OrvanePrefs.bundle";

struct LoadedBundle {
  std::string principal_class;  // the root page's class, registered and ready to create
  std::string display_name;     // for the title bar
};

// Loads the bundle at a logical directory. The library stays loaded for the process's life. A
// failure's message is one line naming the real path that was tried.
Result<LoadedBundle> load_bundle(std::string_view logical_dir);

}  // namespace orv::host
