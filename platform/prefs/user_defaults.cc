#include "platform/prefs/user_defaults.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "platform/fs/file_descriptor.h"
#include "platform/fs/root.h"
#include "platform/plist/plist_file.h"

namespace orv {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kStandardDefaultsPath =
    "/var/mobile/Library/Preferences/orvane.settings.plist";

// An exclusive advisory lock on a lock file beside the defaults, held while alive. When the
// lock file cannot be made (read-only directory) the writer goes on unlocked: its write will
// most likely fail as well, and the in-memory value is kept either way.
class ExclusiveFileLock {
 public:
  explicit ExclusiveFileLock(const fs::path& lock_path)
      : fd_(::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
    if (!fd_.valid()) return;
    while (::flock(fd_.get(), LOCK_EX) != 0 && errno == EINTR) {
    }
  }
  // Closing the descriptor releases the lock.

 private:
  FileDescriptor fd_;
};

bool read_all(int fd, std::vector<std::uint8_t>& out) {
  std::uint8_t buffer[16384];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    out.insert(out.end(), buffer, buffer + n);
  }
}

std::int64_t mtime_ns_of(const struct stat& st) {
  return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
}

void apply_change(Dictionary& dictionary, std::string_view key, const Value& value) {
  if (value.is_null())
    dictionary.remove(key);
  else
    dictionary.set(std::string(key), value);
}

}  // namespace

std::shared_ptr<NSUserDefaults> NSUserDefaults::standardUserDefaults() {
  static const std::shared_ptr<NSUserDefaults> standard =
      std::make_shared<NSUserDefaults>(real_path(kStandardDefaultsPath));
  return standard;
}

NSUserDefaults::NSUserDefaults(fs::path real_file)
    : file_(std::move(real_file)), lock_file_(file_.string() + ".lock") {}

Value NSUserDefaults::objectForKey(std::string_view key) {
  std::lock_guard guard(mutex_);
  refresh_locked();
  return cache_.get(key);
}

void NSUserDefaults::setObject(const Value& value, std::string_view key) {
  std::lock_guard guard(mutex_);
  // Recorded first, so that a failed write still leaves this process seeing its own change;
  // the next successful write carries it to the file.
  pending_.emplace_back(std::string(key), value);

  std::error_code ec;
  fs::create_directories(file_.parent_path(), ec);
  ExclusiveFileLock lock(lock_file_);
  // Another process may have written since our last read: start from the file as it is now.
  load_file_locked(WriterLock::Held);
  loaded_once_ = true;
  if (!broken_file_kept_ && write_plist_file_atomically(file_, Value(cache_), PlistFormat::Xml)) {
    pending_.clear();
    cached_identity_ = identity_now();
  }
}

NSUserDefaults::FileIdentity NSUserDefaults::identity_now() const {
  struct stat st {};
  if (::stat(file_.c_str(), &st) != 0) return FileIdentity{};
  return identity_of(st);
}

NSUserDefaults::FileIdentity NSUserDefaults::identity_of(const struct stat& st) {
  FileIdentity identity;
  identity.exists = true;
  identity.inode = st.st_ino;
  identity.device = st.st_dev;
  identity.size = st.st_size;
  identity.mtime_ns = mtime_ns_of(st);
  identity.ctime_ns =
      static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1'000'000'000 + st.st_ctim.tv_nsec;
  return identity;
}

void NSUserDefaults::refresh_locked() {
  if (loaded_once_ && identity_now() == cached_identity_) return;
  load_file_locked(WriterLock::NotHeld);
  loaded_once_ = true;
}

void NSUserDefaults::load_file_locked(WriterLock writer_lock) {
  // A second attempt covers a file that another writer replaced while this one found it
  // broken.
  for (int attempt = 0; attempt < 2; ++attempt) {
    cache_ = Dictionary();
    broken_file_kept_ = false;
    FileDescriptor fd(::open(file_.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (!fd.valid() && errno == ENOENT) {
      cached_identity_ = FileIdentity{};
      break;
    }
    if (fd.valid() && ::fstat(fd.get(), &st) == 0) {
      // Identity and contents come from the same open file, so a rename in between cannot
      // pair new contents with an old identity.
      std::vector<std::uint8_t> bytes;
      Result<Value> root = fail("unreadable");
      if (read_all(fd.get(), bytes)) root = decode_plist(bytes);
      if (root && root->is_dictionary()) {
        cache_ = root->as_dictionary();
        cached_identity_ = identity_of(st);
        break;
      }
    }
    if (move_corrupt_file_aside(writer_lock)) {
      cached_identity_ = identity_now();
      break;
    }
  }
  overlay_pending_locked();
}

void NSUserDefaults::overlay_pending_locked() {
  for (const auto& [key, value] : pending_)
    apply_change(cache_, key, value);
}

// Returns false when the file reads as a dictionary after all (then nothing was moved).
bool NSUserDefaults::move_corrupt_file_aside(WriterLock writer_lock) {
  // Under the writers' lock, so that a file being replaced by another process right now is
  // not mistaken for a broken one: read it once more, and move it only when it still fails.
  std::optional<ExclusiveFileLock> lock;
  if (writer_lock == WriterLock::NotHeld) lock.emplace(lock_file_);
  Result<Value> again = read_plist_file(file_);
  if (again && again->is_dictionary()) return false;
  std::error_code ec;
  if (!fs::exists(file_, ec)) return true;

  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
  const std::string base = file_.string() + ".corrupt-" + std::to_string(seconds);
  for (int attempt = 0; attempt < 1000; ++attempt) {
    fs::path aside = attempt == 0 ? fs::path(base) : fs::path(base + "-" + std::to_string(attempt));
    if (fs::exists(aside, ec)) continue;
    fs::rename(file_, aside, ec);
    if (!ec) return true;
  }
  // The move failed (e.g. a read-only directory): the file stays as it is, and this process
  // writes nothing over it; its defaults are empty until the file changes.
  broken_file_kept_ = true;
  return true;
}

}  // namespace orv
