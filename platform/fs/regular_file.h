// Reading a file that anyone with write access to its folder may have planted: job files,
// settings, import files, string tables, descriptions, Info.plist.
//
// The path is opened without blocking (a FIFO would otherwise wait for a writer for ever) and
// without being inherited, then the open descriptor must be a regular file, of at most
// kMaxReadFileBytes. Anything else (missing, not permitted, a FIFO, device, socket or
// directory, a larger file) is refused at once with the reason: callers treat it as their
// "missing or unreadable" case and never block or read without end.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "platform/result.h"

namespace orv {

// The largest file read: far beyond any settings, job or strings file, small enough that a
// planted one cannot exhaust memory.
inline constexpr std::size_t kMaxReadFileBytes = 16 * 1024 * 1024;

struct FileContents {
  std::vector<std::uint8_t> bytes;
  struct stat status;  // of the descriptor the bytes came from
};

// The whole file, or why not. The error's code is the errno of a failed open or read (ENOENT
// for a missing file), EINVAL for a file that is not regular, EFBIG for one over the limit.
Result<FileContents> read_regular_file(const std::filesystem::path& path);

}  // namespace orv
