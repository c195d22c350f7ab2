// Writing an export file for a client. Clients name the file by its logical path; only paths
// inside the media directory are written, and nothing is ever written through a symbolic link
// or outside that directory, whatever the client sends: the file is opened component by
// component beneath the media directory with symbolic links refused.
#pragma once

#include <string_view>

#include "platform/value/value.h"

namespace orv::service {

inline constexpr std::string_view kMediaDirectory = "/var/mobile/Media/";

enum class ExportStatus : int {
  Ok = 0,
  NotADictionary = -1,
  PathRefused = -2,  // outside the media directory, "..", a symbolic link, no file name
  WriteFailed = -3,
};

// Writes data (a dictionary) as an XML property list at the logical path, atomically
// (temporary file in the target directory, fsync, rename), creating missing directories below
// the media directory.
ExportStatus write_export_file(std::string_view logical_path, const Value& data);

}  // namespace orv::service
