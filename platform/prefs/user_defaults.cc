#include "platform/prefs/user_defaults.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "platform/fs/file_descriptor.h"
#include "platform/fs/regular_file.h"
#include "platform/fs/root.h"
#include "platform/plist/plist_file.h"

namespace orv {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kStandardDefaultsPath =
    "/var/mobile/Library/Preferences/orvane.settings.plist";

// An exclusive advisory lock on a lock file beside the defaults, held while alive.
class ExclusiveFileLock {
 public:
  static Result<ExclusiveFileLock> acquire(const fs::path& lock_path) {
    // Opened for reading: flock needs no more, so every user who may write the settings can
    // take the lock, whoever made its file.
    FileDescriptor fd(::open(lock_path.c_str(), O_RDONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0644));
    if (!fd.valid()) return fail_errno("cannot create the lock " + lock_path.string());
    while (::flock(fd.get(), LOCK_EX) != 0) {
      if (errno != EINTR) return fail_errno("cannot lock " + lock_path.string());
    }
    return ExclusiveFileLock(std::move(fd));
  }
  // Closing the descriptor releases the lock.

 private:
  explicit ExclusiveFileLock(FileDescriptor fd) : fd_(std::move(fd)) {}
  FileDescriptor fd_;
};

std::int64_t nanoseconds_of(const timespec& time) {
  return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

void apply_edit(Dictionary& dictionary, std::string_view key, const NSUserDefaults::Edit& edit) {
  const Value* stored = dictionary.find(key);
  Value changed = edit(stored ? *stored : Value());
  if (changed.is_null())
    dictionary.remove(key);
  else
    dictionary.set(std::string(key), std::move(changed));
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
  return view_.get(key);
}

Status NSUserDefaults::setObject(const Value& value, std::string_view key) {
  return updateObject(key, [value](const Value&) { return value; });
}

Status NSUserDefaults::updateObject(std::string_view key, Edit edit, Unsaved unsaved) {
  std::lock_guard guard(mutex_);
  // Recorded first, so that a failed write still leaves this process seeing its own change.
  apply_edit(view_, key, edit);
  pending_.emplace_back(std::string(key), std::move(edit));
  Status written = write_locked();
  if (written) {
    pending_.clear();
    last_write_error_.reset();
  } else if (unsaved == Unsaved::Drop) {
    pending_.pop_back();
    view_ = stored_;
    apply_pending_locked();
  } else {
    last_write_error_ = written.error();
  }
  return written;
}

Status NSUserDefaults::saveStatus() {
  std::lock_guard guard(mutex_);
  if (pending_.empty()) return {};
  return fail(last_write_error_.value_or(Error{"the settings were not written", 0}));
}

Status NSUserDefaults::write_locked() {
  std::error_code ec;
  fs::create_directories(file_.parent_path(), ec);
  Result<ExclusiveFileLock> lock = ExclusiveFileLock::acquire(lock_file_);
  if (!lock) return fail(lock.error());
  // Another process may have written since our last read: the edits apply to the file as it
  // is now.
  load_file_locked(WriterLock::Held);
  if (kept_file_) return fail(*kept_file_);
  Status written = write_plist_file_atomically(file_, Value(view_), PlistFormat::Binary);
  if (written) {
    stored_ = view_;
    cached_identity_ = identity_now();
  }
  return written;
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
  identity.mtime_ns = nanoseconds_of(st.st_mtim);
  identity.ctime_ns = nanoseconds_of(st.st_ctim);
  return identity;
}

NSUserDefaults::StoredFile NSUserDefaults::read_stored_file() const {
  StoredFile file;
  Result<FileContents> contents = read_regular_file(file_);
  if (!contents) {
    if (contents.error().code == ENOENT) return file;
    file.state = StoredFile::State::Unreadable;
    file.identity = identity_now();
    file.error = contents.error();
    return file;
  }
  // Identity and contents come from the same open file, so a rename in between cannot pair
  // new contents with an old identity.
  file.identity = identity_of(contents->status);
  std::optional<Value> root = decode_plist(contents->bytes);
  if (root && root->is_dictionary()) {
    file.state = StoredFile::State::Read;
    file.dictionary = root->as_dictionary();
  } else {
    file.state = StoredFile::State::Broken;
  }
  return file;
}

void NSUserDefaults::refresh_locked() {
  if (loaded_once_ && identity_now() == cached_identity_) return;
  load_file_locked(WriterLock::NotHeld);
}

void NSUserDefaults::load_file_locked(WriterLock writer_lock) {
  StoredFile file = read_stored_file();
  if (file.state == StoredFile::State::Broken) file = settle_broken_file(writer_lock);
  loaded_once_ = true;
  stored_ = std::move(file.dictionary);
  cached_identity_ = file.identity;
  kept_file_.reset();
  if (file.state == StoredFile::State::Unreadable) {
    kept_file_ = Error{
        "the settings file cannot be read, so nothing is written over it: " + file.error.message,
        file.error.code};
    report_unreadable_once(file.error);
  } else if (file.state == StoredFile::State::Broken) {
    kept_file_ = Error{
        "the settings file is broken and cannot be moved aside, so nothing is written over it: " +
            file.error.message,
        file.error.code};
  }
  view_ = stored_;
  apply_pending_locked();
}

void NSUserDefaults::report_unreadable_once(const Error& error) {
  if (unreadable_reported_) return;
  unreadable_reported_ = true;
  std::fprintf(stderr, "%s: working with default settings: %s\n", program_invocation_short_name,
               error.message.c_str());
}

void NSUserDefaults::apply_pending_locked() {
  for (const auto& [key, edit] : pending_)
    apply_edit(view_, key, edit);
}

NSUserDefaults::StoredFile NSUserDefaults::settle_broken_file(WriterLock writer_lock) {
  // Under the writers' lock, so that a file being replaced by another process right now is
  // not mistaken for a broken one: it is read once more, and moved only when still broken.
  std::optional<Result<ExclusiveFileLock>> lock;
  if (writer_lock == WriterLock::NotHeld) lock.emplace(ExclusiveFileLock::acquire(lock_file_));
  StoredFile again = read_stored_file();
  if (again.state != StoredFile::State::Broken) return again;
  if (lock && !*lock) {
    again.error = lock->error();
    return again;
  }

  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
  const std::string base = file_.string() + ".corrupt-" + std::to_string(seconds);
  std::error_code ec;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    fs::path aside = attempt == 0 ? fs::path(base) : fs::path(base + "-" + std::to_string(attempt));
    if (fs::exists(aside, ec)) continue;
    fs::rename(file_, aside, ec);
    if (!ec) return read_stored_file();
  }
  // The move failed (e.g. a read-only directory): the file stays as it is, and this process
  // writes nothing over it; its defaults are empty until the file changes.
  again.error = Error{file_.string() + ": " + ec.message(), ec.value()};
  return again;
}

}  // namespace orv
