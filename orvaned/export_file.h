// Writing an export file for a client. Clients name the file by its logical path; only paths
// inside the media directory are written, and nothing is ever written through a symbolic link
// or outside that directory, whatever the client sends or has planted: every directory from
// the root down, the media directory's own included, is opened beneath its parent with symbolic
// links refused.
#pragma once

#include <string_view>

#include "platform/value/value.h"

namespace orv::service {

// The reply's status: 0 when written, otherwise the step that failed.
enum class ExportStatus : int {
  Ok = 0,
  NotADictionary = -1,
  PathRefused = -2,  // outside the media directory, "..", a symbolic link, no file name
  WriteFailed = -3,
};

// Writes data (a dictionary) as an XML property list at the logical path, atomically (a
// temporary file in the target directory, synced, then renamed over the name; the temporary's
// name is short, so any name the file system accepts works), creating missing directories
// down from the media directory. A failure is logged with its reason.
ExportStatus write_export_file(std::string_view logical_path, const Value& data);

}  // namespace orv::service
