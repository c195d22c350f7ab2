// The locale the host writes text in. The pages choose their language from the environment on
// their own; the C library's locale only decides how characters reach the terminal, so a
// language whose locale is not installed is still drawn through C.UTF-8, and a terminal
// without UTF-8 gets ASCII stand-ins.
#pragma once

#include <string>
#include <string_view>

namespace orv::host {

// Sets the process's locale from the environment, or to C.UTF-8 when the one asked for is not
// installed. Returns whether text may be written as UTF-8.
bool use_environment_locale();

// An ASCII stand-in for one glyph: line drawing and arrows as their ASCII look-alikes, any
// other character outside ASCII as "?".
std::string_view ascii_glyph(std::string_view glyph);

}  // namespace orv::host
