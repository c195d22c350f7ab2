// Typing a filter, as the list and a job's log both offer it: Esc clears the filter and ends
// typing, Enter ends typing and keeps it, Backspace removes its last character, and a printable
// character is added. Every other key is left to the caller (movement keys still move).
#pragma once

#include <string>

#include "host/key.h"

namespace orv::host {

enum class FilterEdit { NotAnEdit, Changed, Ended };

FilterEdit edit_filter(std::string& filter, const Key& key);

}  // namespace orv::host
