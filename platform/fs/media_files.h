// Files in the media directory (kMediaDirectory), where users exchange files with the system:
// exports are written there and imports read from there, under the name the user types. A page
// that reports such a transfer names the file at the end of its result text when it succeeded,
// and only then; the pages build that text and the command line recognises it through the
// functions below, so neither rebuilds the other's text by hand.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/fs/root.h"

namespace orv {

// The logical path of the file a typed name stands for. A name with a ".." component would climb
// out of the media directory and has none; "sub/name" reaches a subdirectory as typed.
std::optional<std::string> media_file_path(std::string_view name);

// "<outcome>:<detail>", the shape of every result text: a success names its file as the detail.
std::string result_text(std::string_view outcome, std::string_view detail);
// Whether a result text reports success with the file at `path`.
bool result_names_file(std::string_view text, std::string_view path);

}  // namespace orv
