#include "orvaned/below_root.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/fs/root.h"

namespace orv::service {

namespace {

// The directory `name` beneath `parent`, made when missing; a symbolic link or anything but a
// directory in its place is refused.
Result<FileDescriptor> enter_directory(int parent, const std::string& name) {
  if (::mkdirat(parent, name.c_str(), 0755) != 0 && errno != EEXIST)
    return fail_errno("cannot make " + name);
  FileDescriptor dir(
      ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (dir.valid()) return dir;
  if (errno == ELOOP || errno == ENOTDIR)
    return fail(name + " is a symbolic link or not a directory", errno);
  return fail_errno("cannot open " + name);
}

}  // namespace

std::vector<std::string> components(std::string_view path) {
  std::vector<std::string> parts;
  while (!path.empty()) {
    const size_t slash = path.find('/');
    const std::string_view part = path.substr(0, slash);
    path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
    if (!part.empty() && part != ".") parts.emplace_back(part);
  }
  return parts;
}

Result<FileDescriptor> open_directory_below_root(const std::vector<std::string>& path) {
  FileDescriptor dir(::open(root_prefix().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir.valid()) return fail_errno("cannot open the root " + root_prefix().string());
  for (const std::string& name : path) {
    Result<FileDescriptor> next = enter_directory(dir.get(), name);
    if (!next) return fail(std::move(next.error()));
    dir = std::move(*next);
  }
  return dir;
}

Result<FileDescriptor> open_for_append_below_root(std::string_view logical) {
  std::vector<std::string> parts = components(logical);
  if (!logical.starts_with('/') || logical.ends_with('/') || parts.empty())
    return fail("not an absolute path to a file");
  for (const std::string& part : parts)
    if (part == "..") return fail("climbs out with \"..\"");
  const std::string name = parts.back();
  parts.pop_back();
  Result<FileDescriptor> dir = open_directory_below_root(parts);
  if (!dir) return fail(std::move(dir.error()));
  // Non-blocking, so a FIFO in its place is refused below instead of waiting for a reader.
  FileDescriptor file(::openat(dir->get(), name.c_str(),
                               O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                               0644));
  if (!file.valid()) return fail_errno("cannot open " + name);
  struct stat status {};
  if (::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode))
    return fail(name + " is not a regular file");
  return file;
}

}  // namespace orv::service
