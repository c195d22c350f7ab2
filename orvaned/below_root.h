// Opening places below the root that anyone with write access there may have prepared: every
// directory under the root is entered without following symbolic links (and made when
// missing), so nothing planted can send the service's writes elsewhere. The root itself is the
// service's configuration and is taken as it is.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/fs/file_descriptor.h"
#include "platform/result.h"

namespace orv::service {

// The components of a path, in order; empty and "." components are dropped.
std::vector<std::string> components(std::string_view path);

// The directory at these components below the root.
Result<FileDescriptor> open_directory_below_root(const std::vector<std::string>& path);

// The regular file at an absolute logical path, opened for appending (made when missing). A
// path with "..", a symbolic link anywhere on the way, or anything but a regular file at the end
// is refused.
Result<FileDescriptor> open_for_append_below_root(std::string_view logical);

}  // namespace orv::service
