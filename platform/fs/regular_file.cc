#include "platform/fs/regular_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "platform/fs/file_descriptor.h"

namespace orv {

namespace {

Error refusal(const std::filesystem::path& path, std::string_view why, int code) {
  return Error{path.string() + ": " + std::string(why), code};
}

Error too_large(const std::filesystem::path& path) {
  return refusal(
      path,
      "larger than the read limit of " + std::to_string(kMaxReadFileBytes / (1024 * 1024)) + " MiB",
      EFBIG);
}

// Reads until end of file; a file that grows past the limit while being read is refused too.
Status read_to_end(int fd, const std::filesystem::path& path, std::vector<std::uint8_t>& out) {
  std::uint8_t buffer[64 * 1024];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) return {};
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail_errno(path.string());
    }
    if (out.size() + static_cast<std::size_t>(n) > kMaxReadFileBytes) return fail(too_large(path));
    out.insert(out.end(), buffer, buffer + n);
  }
}

}  // namespace

Result<FileContents> read_regular_file(const std::filesystem::path& path) {
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.valid()) return fail_errno(path.string());
  FileContents contents{};
  if (::fstat(fd.get(), &contents.status) != 0) return fail_errno(path.string());
  if (!S_ISREG(contents.status.st_mode)) return fail(refusal(path, "not a regular file", EINVAL));
  if (static_cast<std::uint64_t>(contents.status.st_size) > kMaxReadFileBytes)
    return fail(too_large(path));
  contents.bytes.reserve(static_cast<std::size_t>(contents.status.st_size));
  if (Status read = read_to_end(fd.get(), path, contents.bytes); !read) return fail(read.error());
  return contents;
}

}  // namespace orv
