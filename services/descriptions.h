// Human-readable descriptions of launchd jobs from the bundle's KnownDaemon.plist, in English
// or Chinese by the current locale.
#pragma once

#include <string>
#include <string_view>

// The description of the job label: the short text, or with long_form the long text when the
// job has one (else the short text). A job without a description in the file gives its own
// description, the record's "Description" (passed as own_text), else the text of "$UNKNOWN".
std::string get_desc(std::string_view label, bool long_form, std::string_view own_text = {});
