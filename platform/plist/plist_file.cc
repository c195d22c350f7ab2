#include "platform/plist/plist_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "platform/fs/file_descriptor.h"
#include "platform/fs/regular_file.h"
#include "platform/fs/root.h"
#include "platform/plist/binary_plist.h"
#include "platform/plist/binary_plist_format.h"
#include "platform/plist/xml_plist.h"

namespace orv {

namespace {

// The file's bytes, or why read_regular_file refused them.
Result<Bytes> bytes_of_file(const std::filesystem::path& path) {
  Result<FileContents> contents = read_regular_file(path);
  if (!contents) return fail(contents.error());
  return std::move(contents->bytes);
}

bool write_all(int fd, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes = bytes.subspan(static_cast<std::size_t>(n));
  }
  return true;
}

std::optional<Bytes> encode(const Value& root, PlistFormat format) {
  if (format == PlistFormat::Binary) return encode_binary_plist(root);
  std::optional<std::string> text = encode_xml_plist(root);
  if (!text) return std::nullopt;
  return Bytes(text->begin(), text->end());
}

// Makes the rename durable: the directory entry itself is flushed.
void sync_directory(const std::filesystem::path& dir) {
  FileDescriptor fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() >= 0) ::fsync(fd.get());
}

}  // namespace

Result<Value> decode_plist(std::span<const std::uint8_t> bytes) {
  if (bytes.size() >= bplist::kMagic.size() &&
      std::memcmp(bytes.data(), bplist::kMagic.data(), bplist::kMagic.size()) == 0)
    return decode_binary_plist(bytes);
  return decode_xml_plist(
      std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

Result<Value> read_plist_file(const std::filesystem::path& real_path) {
  Result<Bytes> bytes = bytes_of_file(real_path);
  if (!bytes) return fail(bytes.error());
  if (bytes->empty()) return fail("empty file");
  return decode_plist(*bytes);
}

namespace {

// The last parse of each recently read file, with the bytes it came from. Pages load their
// resource on every rebuild; the file is still read each time, but bytes equal to the last
// read's give the same (immutable) value without parsing again.
class RecentParses {
 public:
  Value dictionary_for(const std::filesystem::path& path, Bytes bytes) {
    std::lock_guard guard(mutex_);
    auto found = parses_.find(path.native());
    if (found != parses_.end() && found->second.bytes == bytes) return found->second.dictionary;
    Value dictionary = parse_dictionary(bytes);
    if (found == parses_.end()) {
      if (parses_.size() >= kMaxFiles) parses_.clear();
      found = parses_.emplace(path.native(), Parse{}).first;
    }
    found->second = Parse{std::move(bytes), dictionary};
    return dictionary;
  }

 private:
  static constexpr std::size_t kMaxFiles = 16;
  struct Parse {
    Bytes bytes;
    Value dictionary;
  };

  static Value parse_dictionary(const Bytes& bytes) {
    if (bytes.empty()) return Value();
    Result<Value> v = decode_plist(bytes);
    if (!v || !v->is_dictionary()) return Value();
    return std::move(*v);
  }

  std::mutex mutex_;
  std::map<std::string, Parse, std::less<>> parses_;
};

}  // namespace

Value dictionary_with_contents_of_file(std::string_view logical_path) {
  static RecentParses recent;
  const std::filesystem::path path = real_path(logical_path);
  Result<Bytes> bytes = bytes_of_file(path);
  if (!bytes) return Value();
  return recent.dictionary_for(path, std::move(*bytes));
}

Status write_plist_file_atomically(const std::filesystem::path& real_path, const Value& root,
                                   PlistFormat format) {
  const std::optional<Bytes> bytes = encode(root, format);
  if (!bytes) return fail(real_path.string() + ": the value cannot be written in this form");
  if (real_path.filename().empty()) return fail(real_path.string() + ": not a file name");
  const std::filesystem::path dir =
      real_path.has_parent_path() ? real_path.parent_path() : std::filesystem::path(".");
  std::string temp = dir.string();
  temp.append("/.").append(real_path.filename().string()).append(".XXXXXX");
  FileDescriptor fd(::mkstemp(temp.data()));
  if (fd.get() < 0) return fail_errno("cannot create a file in " + dir.string());
  // Keep the permissions of the file being replaced; a new file is readable by everyone, like
  // one created with the usual umask.
  struct stat st {};
  const mode_t mode = ::stat(real_path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
  const bool written = ::fchmod(fd.get(), mode) == 0 && write_all(fd.get(), *bytes) &&
                       ::fsync(fd.get()) == 0 && fd.close() &&
                       ::rename(temp.c_str(), real_path.c_str()) == 0;
  if (!written) {
    const int error = errno;
    ::unlink(temp.c_str());
    return fail_errno("cannot write " + real_path.string(), error);
  }
  sync_directory(dir);
  return {};
}

}  // namespace orv
