// One-line diagnostics on standard error, prefixed with the program name. The service has no
// log file of its own: a supervisor (systemd, the demo script) decides where stderr goes.
#pragma once

#include <string_view>

namespace orv::service {

void log_line(std::string_view message);

}  // namespace orv::service
