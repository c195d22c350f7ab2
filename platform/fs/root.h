// The root prefix. Every fixed absolute path of the system ("/Library/PreferenceBundles/...",
// "/var/mobile/Media/", the defaults file) is a logical path; the file system sees it under a
// root: $ORVANE_ROOT when set, otherwise the root compiled in. Code and texts keep the logical
// path; only file access goes through real_path().
#pragma once

#include <filesystem>
#include <string_view>

namespace orv {

// The device's media directory, a fixed logical path of the platform: the plugin names export
// and import files under it and the control service writes exports there.
inline constexpr std::string_view kMediaDirectory = "/var/mobile/Media/";

// The root prefix in force now (the environment is read on every call, so tests and the host
// can point a process at another root).
std::filesystem::path root_prefix();

// The real path of a logical path: the root prefix joined with the logical path. A relative
// logical path is taken as relative to the root as well.
std::filesystem::path real_path(std::string_view logical);

}  // namespace orv
