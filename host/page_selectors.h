// The selectors through which the host reaches the plugin's rows: the list page's show-system
// switch and buttons, and the job page's "Alive" switch. The host finds rows by these, never by
// their (translated) titles.
#pragma once

#include <string_view>

namespace orv::host {

inline constexpr std::string_view kShowSystemSetter = "setShowSys:specifier:";
inline constexpr std::string_view kAliveSetter = "setAlive:specifier:";
inline constexpr std::string_view kRefreshAction = "onRefresh";
inline constexpr std::string_view kExportAction = "onExport";
inline constexpr std::string_view kImportAction = "onImport";

}  // namespace orv::host
