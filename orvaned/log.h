// One-line diagnostics on standard error, prefixed with the program name. The service has no
// log file of its own: a supervisor (systemd, the demo script) decides where stderr goes.
// Messages carry text from outside (labels, paths that clients send), so every line is
// escaped: control characters (C0, DEL, C1), bytes that are not UTF-8 and the backslash are
// written as C escapes ("\n", "\x1b", "\\"), and one message can never pass for two lines.
#pragma once

#include <string>
#include <string_view>

namespace orv::service {

void log_line(std::string_view message);

// The text with control characters, bytes that are not UTF-8 and the backslash escaped as
// log_line writes them: always valid UTF-8 and always one line.
std::string escaped(std::string_view text);

}  // namespace orv::service
