#include "orvaned/export_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>
#include <vector>

#include "orvaned/below_root.h"
#include "orvaned/log.h"
#include "platform/fs/file_descriptor.h"
#include "platform/fs/root.h"
#include "platform/plist/xml_plist.h"
#include "platform/result.h"

namespace orv::service {

namespace {

// The components below the media directory: directories, then the file name.
Result<std::vector<std::string>> components_below_media(std::string_view logical) {
  if (!logical.starts_with(kMediaDirectory))
    return fail("not inside " + std::string(kMediaDirectory));
  const std::string_view rest = logical.substr(kMediaDirectory.size());
  std::vector<std::string> parts = components(rest);
  if (rest.empty() || rest.back() == '/' || parts.empty()) return fail("names no file");
  for (const std::string& part : parts)
    if (part == "..") return fail("climbs out with \"..\"");
  return parts;
}

Status write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return fail_errno("cannot write");
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return {};
}

// Where an export goes: the directory that holds the file, and the file's name in it.
struct ExportTarget {
  FileDescriptor directory;
  std::string name;
};

// Short and fixed in length, so it fits wherever the final name fits.
std::string temporary_name() {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  char name[32];
  std::snprintf(name, sizeof name, ".export-%016llx", static_cast<unsigned long long>(random()));
  return name;
}

Result<FileDescriptor> create_temporary(int dir, std::string& name) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    name = temporary_name();
    FileDescriptor out(
        ::openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (out.valid()) return out;
    if (errno != EEXIST) break;
  }
  return fail_errno("cannot create a temporary file");
}

Status write_synced(FileDescriptor out, std::string_view contents) {
  Status written = write_all(out.get(), contents);
  if (!written) return written;
  if (::fsync(out.get()) != 0) return fail_errno("cannot sync");
  if (!out.close()) return fail_errno("cannot close");
  return {};
}

// The XML property list of an export's data; only a dictionary is exported.
Result<std::string> export_contents(const Value& data) {
  if (!data.is_dictionary()) return fail("the data is not a dictionary");
  std::optional<std::string> xml = encode_xml_plist(data);
  if (!xml) return fail("the data cannot be written as a property list");
  return std::move(*xml);
}

// The directory of the file at a logical path, opened beneath the media directory, and the
// file's name in it.
Result<ExportTarget> open_export_target(std::string_view logical_path) {
  Result<std::vector<std::string>> parts = components_below_media(logical_path);
  if (!parts) return fail(std::move(parts.error()));
  std::vector<std::string> directories = components(kMediaDirectory);
  directories.insert(directories.end(), parts->begin(), parts->end() - 1);
  Result<FileDescriptor> dir = open_directory_below_root(directories);
  if (!dir) return fail(std::move(dir.error()));
  ExportTarget target{std::move(*dir), std::move(parts->back())};
  // The rename would replace a symbolic link rather than follow it, but a link planted where
  // the file goes is refused all the same, as is a directory.
  struct stat existing {};
  if (::fstatat(target.directory.get(), target.name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0 &&
      !S_ISREG(existing.st_mode))
    return fail(target.name + " is not a regular file");
  return target;
}

Status replace_export_file(const ExportTarget& target, std::string_view contents) {
  const int dir = target.directory.get();
  std::string temp;
  Result<FileDescriptor> out = create_temporary(dir, temp);
  if (!out) return fail(std::move(out.error()));
  Status written = write_synced(std::move(*out), contents);
  if (written && ::renameat(dir, temp.c_str(), dir, target.name.c_str()) != 0)
    written = fail_errno("cannot rename the temporary file to " + target.name);
  if (!written) {
    ::unlinkat(dir, temp.c_str(), 0);
    return written;
  }
  ::fsync(dir);
  return {};
}

ExportStatus not_written(std::string_view logical_path, ExportStatus status, const Error& why) {
  log_line("export to " + std::string(logical_path) + " not written: " + why.message);
  return status;
}

}  // namespace

ExportStatus write_export_file(std::string_view logical_path, const Value& data) {
  Result<std::string> contents = export_contents(data);
  if (!contents) return not_written(logical_path, ExportStatus::NotADictionary, contents.error());
  Result<ExportTarget> target = open_export_target(logical_path);
  if (!target) return not_written(logical_path, ExportStatus::PathRefused, target.error());
  Status written = replace_export_file(*target, *contents);
  if (!written) return not_written(logical_path, ExportStatus::WriteFailed, written.error());
  return ExportStatus::Ok;
}

}  // namespace orv::service
