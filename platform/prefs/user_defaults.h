// The standard user defaults: a dictionary of settings kept in one property-list file.
//
// Every change is an edit of one key's value, written through to the file at once: under an
// exclusive lock on a lock file beside it, held from the read to the write, the file is read
// anew, the edit applied to the value stored there now, and the whole dictionary written
// atomically (temporary file, fsync, rename) as a binary property list (XML files are read as
// well). So a change one process makes survives every other process's change to another key,
// or to another part of the same key's value, and a crash leaves either the old or the new
// file. Reads see other processes' writes: the parsed file is cached and read again only when
// its identity (inode, size, times) changes.
//
// A file that was read and does not parse as a dictionary is moved aside
// ("<name>.corrupt-<timestamp>"), never overwritten in place, and the defaults start empty. A
// file that cannot be read (not permitted, not a regular file, too large) is left alone: the
// process works with empty defaults, says so once on standard error, and writes nothing over
// it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/result.h"
#include "platform/value/value.h"

struct stat;

namespace orv {

class NSUserDefaults {
 public:
  // A change of one key's value: given the value stored now (null when none), the value to
  // store (null removes the key). It may be applied more than once, to newer contents each
  // time, so it must depend on nothing but its argument and what it captured.
  using Edit = std::function<Value(const Value& stored)>;

  // What becomes of a change that could not be written. Keep: this process goes on seeing it,
  // the next write carries it (the edit applied again to the file as it is then), and
  // saveStatus() reports it until then. Drop: it is forgotten, for changes that only store
  // what every reader assumes anyway.
  enum class Unsaved { Keep, Drop };

  // The host's defaults, <root>/var/mobile/Library/Preferences/orvane.settings.plist; the root
  // prefix is the one in force when the object is first obtained.
  static std::shared_ptr<NSUserDefaults> standardUserDefaults();

  explicit NSUserDefaults(std::filesystem::path real_file);

  // The value under key, or null when missing.
  Value objectForKey(std::string_view key);
  // Stores value under key; a null value removes the key.
  Status setObject(const Value& value, std::string_view key);
  // Applies edit to the value under key as the file holds it at the moment of the write.
  // Returns whether the change reached the file, or why not.
  Status updateObject(std::string_view key, Edit edit, Unsaved unsaved = Unsaved::Keep);

  // Ok while every kept change of this process is in the file; otherwise why the last write
  // failed.
  Status saveStatus();

  const std::filesystem::path& file() const { return file_; }

 private:
  struct FileIdentity {
    std::uint64_t inode = 0;
    std::uint64_t device = 0;
    std::int64_t size = -1;
    std::int64_t mtime_ns = 0;
    std::int64_t ctime_ns = 0;
    bool exists = false;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
  };

  // The file as one read found it.
  struct StoredFile {
    enum class State { Missing, Read, Broken, Unreadable } state = State::Missing;
    Dictionary dictionary;
    FileIdentity identity;
    Error error;  // why it is unreadable, or why a broken file stays
  };

  enum class WriterLock { Held, NotHeld };

  static FileIdentity identity_of(const struct ::stat& st);
  FileIdentity identity_now() const;
  StoredFile read_stored_file() const;
  void refresh_locked();
  void load_file_locked(WriterLock writer_lock);
  // Reads a broken file again under the writers' lock and moves it aside when still broken;
  // the file as it is afterwards (still Broken when it could not be moved).
  StoredFile settle_broken_file(WriterLock writer_lock);
  void report_unreadable_once(const Error& error);
  void apply_pending_locked();
  Status write_locked();

  std::filesystem::path file_;
  std::filesystem::path lock_file_;
  std::mutex mutex_;
  Dictionary stored_;  // the file's contents as last read or written
  Dictionary view_;    // stored_ with pending_ applied: what this process sees
  FileIdentity cached_identity_;
  bool loaded_once_ = false;
  // Why the file must not be written over (it cannot be read, or it is broken and could not
  // be moved aside); writes are refused while it is set.
  std::optional<Error> kept_file_;
  bool unreadable_reported_ = false;
  // Changes of this process not yet in the file (their write failed), oldest first.
  std::vector<std::pair<std::string, Edit>> pending_;
  std::optional<Error> last_write_error_;
};

}  // namespace orv
