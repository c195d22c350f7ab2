// A stand-in control service for tests: a messaging-center server on the real socket of
// "msgport.orvane" under the current root (or $ORVANE_RUNTIME_DIR) that answers "listAll",
// "startOne", "export" and "log" as a test tells it and records every request it receives, in
// order.
//
// Defaults: "listAll" answers {"data": []}, "startOne" and "export" answer {"status": 0}, "log"
// an empty log.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ipc/messaging_center.h"
#include "platform/value/value.h"
#include "tests/support/test_support.h"

namespace orv::test {

// Links the staged bundle from the build tree into a root, where the host and plugin look for it.
void link_staged_bundle(const TempDir& root);

// A temporary root in which the plugin finds its staged bundle (linked in from the build tree),
// so pages read the real "Root" resource, strings tables and descriptions. ORVANE_ROOT points at
// it while it lives. The process-wide settings, bundle and description objects bind to the root
// in force on first use, so a test program keeps one such root for its whole run.
class PluginTestRoot {
 public:
  PluginTestRoot();
  const std::filesystem::path& path() const { return dir_.path(); }
  std::filesystem::path real(std::string_view logical) const { return dir_.real(logical); }
  // Empties the plugin's settings file ("show_sys", "usr_pol" and everything else).
  void reset_settings() const;

 private:
  TempDir dir_;
};

struct RecordedRequest {
  std::string name;
  Value user_info;  // null when the request carried no "userInfo" key
  bool has_user_info() const { return !user_info.is_null(); }
};

class ScriptedService {
 public:
  // Starts serving at once; throws std::runtime_error when the socket cannot be bound.
  ScriptedService();
  ~ScriptedService();
  ScriptedService(const ScriptedService&) = delete;
  ScriptedService& operator=(const ScriptedService&) = delete;

  // "listAll" answers {"data": records}; "startOne" or "export" answers {"status": status}.
  void set_daemons(Array records) {
    set_reply("listAll", Value(Dictionary{{"data", std::move(records)}}));
  }
  void set_status(std::string_view message, int status) {
    set_reply(message, Value(Dictionary{{"status", status}}));
  }
  // Any answer for a message: a reply dictionary (or any value, to play a confused service), or
  // nullopt for no reply at all.
  void set_reply(std::string_view message, std::optional<Value> reply);

  std::vector<RecordedRequest> requests() const;
  std::vector<RecordedRequest> requests_named(std::string_view message) const;
  void clear_requests() {
    std::lock_guard lock(mutex_);
    requests_.clear();
  }

  const std::filesystem::path& socket_path() const { return server_.socket_path(); }

 private:
  std::optional<Value> answer(const std::string& message, const Value& user_info);

  mutable std::mutex mutex_;
  std::map<std::string, std::optional<Value>, std::less<>> replies_;
  std::vector<RecordedRequest> requests_;
  MessagingCenterServer server_;
};

}  // namespace orv::test
