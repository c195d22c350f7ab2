// Which jobs the plugin must not stop, and which need a confirmation first.
#pragma once

#include <string_view>

// "com.apple.SpringBoard" and "com.apple.backboardd", compared exactly: stopping either would
// take the whole user interface down.
bool is_protected_job(std::string_view label);

// A label containing "com.apple" anywhere (case-sensitive): a system job.
bool is_system_job(std::string_view label);
