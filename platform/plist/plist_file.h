// Property-list files: the form is recognised by content, reads refuse what is not a regular
// file of bounded size, and writes replace a file atomically.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>

#include "platform/result.h"
#include "platform/value/value.h"

namespace orv {

// By content: "bplist00" magic -> binary, otherwise XML; the form's reason when it does not read.
Result<Value> decode_plist(std::span<const std::uint8_t> bytes);
// Reads a real file path through read_regular_file (platform/fs/regular_file.h); fails for
// missing, unreadable, non-regular, oversized, empty or malformed files.
Result<Value> read_plist_file(const std::filesystem::path& real_path);
// The platform's "dictionary with contents of file": the LOGICAL path is mapped through
// orv::real_path (root prefix); the result is a dictionary Value or a null Value (missing,
// unreadable, empty, malformed, a JSON file, or a root that is not a dictionary).
Value dictionary_with_contents_of_file(std::string_view logical_path);

enum class PlistFormat { Xml, Binary };
// Writes atomically: temporary file in the same directory, flush (fsync), rename. On failure
// the previous file, if any, is left as it was, and the error says why.
Status write_plist_file_atomically(const std::filesystem::path& real_path, const Value& root,
                                   PlistFormat format);

}  // namespace orv
