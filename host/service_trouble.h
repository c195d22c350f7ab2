// Whether the control service answered the pages' latest request, and if not, why, in the few
// words the host shows the user. The pages themselves only see "no reply" and show an empty
// list; the host must not let that pass for an empty machine.
#pragma once

#include <optional>
#include <string>

#include "platform/result.h"

namespace orv::host {

// Why the latest request to the control service went unanswered ("not running", "refused",
// "timed out", "answered badly", or the error's own words), or nullopt when it was answered.
std::optional<std::string> control_service_trouble();

// The few words for one failure of a request.
std::string trouble_words(const Error& error);

}  // namespace orv::host
