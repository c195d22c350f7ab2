// The standard user defaults: a dictionary of settings kept in one property-list file.
//
// Every set is written through to the file at once: under an exclusive lock on a lock file
// beside it, the file is read anew, the change applied and the whole dictionary written
// atomically (temporary file, fsync, rename), so two processes that set different keys never
// lose each other's key and a crash leaves either the old or the new file. Reads see other
// processes' writes: the parsed file is cached and read again only when its identity (inode,
// size, modification time) changes. A file that does not read as a dictionary is moved aside
// ("<name>.corrupt-<timestamp>"), never overwritten in place, and the defaults start empty.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/value/value.h"

struct stat;

namespace orv {

class NSUserDefaults {
 public:
  // The host's defaults, <root>/var/mobile/Library/Preferences/orvane.settings.plist; the root
  // prefix is the one in force when the object is first obtained.
  static std::shared_ptr<NSUserDefaults> standardUserDefaults();

  explicit NSUserDefaults(std::filesystem::path real_file);

  // The value under key, or null when missing.
  Value objectForKey(std::string_view key);
  // Stores value under key; a null value removes the key.
  void setObject(const Value& value, std::string_view key);

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

  enum class WriterLock { Held, NotHeld };

  static FileIdentity identity_of(const struct ::stat& st);
  FileIdentity identity_now() const;
  void refresh_locked();
  void load_file_locked(WriterLock writer_lock);
  bool move_corrupt_file_aside(WriterLock writer_lock);
  void overlay_pending_locked();

  std::filesystem::path file_;
  std::filesystem::path lock_file_;
  std::mutex mutex_;
  Dictionary cache_;
  FileIdentity cached_identity_;
  bool loaded_once_ = false;
  bool broken_file_kept_ = false;  // a broken file that could not be moved aside
  // Changes of this process not yet in the file (its last write failed), oldest first; a
  // null value is a removal.
  std::vector<std::pair<std::string, Value>> pending_;
};

}  // namespace orv
