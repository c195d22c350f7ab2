#include "orvaned/export_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "platform/fs/file_descriptor.h"
#include "platform/fs/root.h"
#include "platform/plist/xml_plist.h"

namespace orv::service {

namespace {

// The components below the media directory: directories, then the file name. Empty and "."
// components are dropped; a ".." anywhere, or no file name, refuses the path.
std::optional<std::vector<std::string>> components_below_media(std::string_view logical) {
  if (!logical.starts_with(kMediaDirectory)) return std::nullopt;
  std::string_view rest = logical.substr(kMediaDirectory.size());
  if (rest.empty() || rest.back() == '/') return std::nullopt;
  std::vector<std::string> parts;
  while (!rest.empty()) {
    size_t slash = rest.find('/');
    std::string_view part = rest.substr(0, slash);
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    if (part == "..") return std::nullopt;
    if (part.empty() || part == ".") continue;
    parts.emplace_back(part);
  }
  if (parts.empty()) return std::nullopt;
  return parts;
}

FileDescriptor open_directory_beneath(int parent, const std::string& name) {
  return FileDescriptor(
      ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

// The media directory itself belongs to the root's layout and is created when missing; every
// directory below it is reached without following symbolic links.
FileDescriptor open_target_directory(const std::vector<std::string>& parts, bool& refused) {
  std::filesystem::path media = real_path(kMediaDirectory);
  std::error_code ec;
  std::filesystem::create_directories(media, ec);
  FileDescriptor dir(::open(media.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  for (size_t i = 0; dir.valid() && i + 1 < parts.size(); ++i) {
    if (::mkdirat(dir.get(), parts[i].c_str(), 0755) != 0 && errno != EEXIST)
      return FileDescriptor();
    FileDescriptor next = open_directory_beneath(dir.get(), parts[i]);
    if (!next.valid() && (errno == ELOOP || errno == ENOTDIR)) refused = true;
    dir = std::move(next);
  }
  return dir;
}

bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

std::string temporary_name(const std::string& final_name) {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  return "." + final_name + ".tmp" + std::to_string(random());
}

ExportStatus replace_file(int dir, const std::string& name, std::string_view contents) {
  std::string temp;
  FileDescriptor out;
  for (int attempt = 0; attempt < 8 && !out.valid(); ++attempt) {
    temp = temporary_name(name);
    out = FileDescriptor(
        ::openat(dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!out.valid() && errno != EEXIST) break;
  }
  if (!out.valid()) return ExportStatus::WriteFailed;
  bool written = write_all(out.get(), contents) && ::fsync(out.get()) == 0;
  out = FileDescriptor();
  if (!written || ::renameat(dir, temp.c_str(), dir, name.c_str()) != 0) {
    ::unlinkat(dir, temp.c_str(), 0);
    return ExportStatus::WriteFailed;
  }
  ::fsync(dir);
  return ExportStatus::Ok;
}

}  // namespace

ExportStatus write_export_file(std::string_view logical_path, const Value& data) {
  if (!data.is_dictionary()) return ExportStatus::NotADictionary;
  std::optional<std::vector<std::string>> parts = components_below_media(logical_path);
  if (!parts) return ExportStatus::PathRefused;
  std::optional<std::string> xml = encode_xml_plist(data);
  if (!xml) return ExportStatus::NotADictionary;

  bool refused = false;
  FileDescriptor dir = open_target_directory(*parts, refused);
  if (!dir.valid()) return refused ? ExportStatus::PathRefused : ExportStatus::WriteFailed;
  const std::string& name = parts->back();
  // The rename would replace a symbolic link rather than follow it, but a link planted where
  // the file goes is refused all the same, as is a directory.
  struct stat existing {};
  if (::fstatat(dir.get(), name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0 &&
      !S_ISREG(existing.st_mode))
    return ExportStatus::PathRefused;
  return replace_file(dir.get(), name, *xml);
}

}  // namespace orv::service
