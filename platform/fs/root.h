// The root prefix. Every fixed absolute path of the system ("/Library/PreferenceBundles/...",
// "/var/mobile/Media/", the defaults file) is a logical path; the file system sees it under a
// root: $ORVANE_ROOT when set, otherwise the layout compiled in. Code and texts keep the logical
// path; only file access goes through real_path().
//
// The compiled-in layout is one root for everything unless it places the preference bundles and
// the run directory elsewhere, as an installed package does (static files under /usr, state
// under /var/lib, the socket under /run). $ORVANE_ROOT always maps every path under one root.
#pragma once

#include <filesystem>
#include <string_view>

namespace orv {

// The device's media directory, a fixed logical path of the platform: the plugin names export
// and import files under it and the control service writes exports there.
inline constexpr std::string_view kMediaDirectory = "/var/mobile/Media/";
// Where settings bundles are installed.
inline constexpr std::string_view kPreferenceBundlesDirectory = "/Library/PreferenceBundles";
// Where the messaging center's sockets live.
inline constexpr std::string_view kRunDirectory = "/var/run/orvane";

// Where logical paths lie on the file system: under `root`, except that a non-empty
// `bundles_dir` or `run_dir` holds what lies in kPreferenceBundlesDirectory or kRunDirectory.
struct RootLayout {
  std::filesystem::path root;
  std::filesystem::path bundles_dir;
  std::filesystem::path run_dir;
};

// The root prefix in force now: $ORVANE_ROOT when set, otherwise the root compiled in (the
// environment is read on every call, so tests and the host can point a process at another root).
std::filesystem::path root_prefix();

// The real path of a logical path in a layout. A relative logical path is taken as relative to
// the root as well.
std::filesystem::path real_path(std::string_view logical, const RootLayout& layout);

// The real path of a logical path in the layout in force now: under $ORVANE_ROOT alone when set,
// otherwise in the compiled-in layout.
std::filesystem::path real_path(std::string_view logical);

}  // namespace orv
