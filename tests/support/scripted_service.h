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
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ipc/messaging_center.h"
#include "platform/value/value.h"
#include "tests/support/test_support.h"

namespace orv::test {

// Links the staged bundle from the build tree into a root, where the host and plugin look for it.
inline void link_staged_bundle(const TempDir& root) {
  const std::filesystem::path link = root.real(kPluginBundle);
  std::filesystem::create_directories(link.parent_path());
  std::filesystem::create_directory_symlink(
      std::filesystem::path(ORVANE_BINARY_DIR) / "root" / kPluginBundle.substr(1), link);
}

// A temporary root in which the plugin finds its staged bundle (linked in from the build tree),
// so pages read the real "Root" resource, strings tables and descriptions. ORVANE_ROOT points at
// it while it lives. The process-wide settings, bundle and description objects bind to the root
// in force on first use, so a test program keeps one such root for its whole run.
class PluginTestRoot {
 public:
  PluginTestRoot() { link_staged_bundle(dir_); }
  std::filesystem::path real(std::string_view logical) const { return dir_.real(logical); }
  // Empties the plugin's settings file ("show_sys", "usr_pol" and everything else).
  void reset_settings() const { write_xml_plist(real(kSettingsFile), Value(Dictionary{})); }

 private:
  TempDir dir_{TempDir::AsRoot::Yes};
};

struct RecordedRequest {
  std::string name;
  Value user_info;  // null when the request carried no "userInfo" key
};

class ScriptedService {
 public:
  // Starts serving at once; throws std::runtime_error when the socket cannot be bound.
  ScriptedService() {
    for (const auto& [message, reply] : replies_)
      server_.register_handler(message, [this, message](const Value& user_info) {
        std::lock_guard lock(mutex_);
        requests_.push_back({message, user_info});
        return replies_[message];
      });
    std::filesystem::create_directories(socket_path().parent_path());
    if (!server_.start())
      throw std::runtime_error("scripted service: cannot listen on " + socket_path().string());
  }
  ~ScriptedService() { server_.stop(); }

  // "listAll" answers {"data": records}; "startOne" or "export" answers {"status": status}.
  void set_daemons(Array records) {
    set_reply("listAll", Value(Dictionary{{"data", std::move(records)}}));
  }
  void set_status(std::string_view message, int status) {
    set_reply(message, Value(Dictionary{{"status", status}}));
  }
  // Any answer for a message: a reply dictionary (or any value, to play a confused service), or
  // nullopt for no reply at all.
  void set_reply(std::string_view message, std::optional<Value> reply) {
    std::lock_guard lock(mutex_);
    replies_[std::string(message)] = std::move(reply);
  }

  std::vector<RecordedRequest> requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }
  std::vector<RecordedRequest> requests_named(std::string_view message) const {
    std::vector<RecordedRequest> matching;
    for (RecordedRequest& request : requests())
      if (request.name == message) matching.push_back(std::move(request));
    return matching;
  }
  void clear_requests() {
    std::lock_guard lock(mutex_);
    requests_.clear();
  }

  const std::filesystem::path& socket_path() const { return server_.socket_path(); }

 private:
  mutable std::mutex mutex_;
  std::map<std::string, std::optional<Value>, std::less<>> replies_{
      {"listAll", Value(Dictionary{{"data", Value(Array{})}})},
      {"startOne", Value(Dictionary{{"status", Value(0)}})},
      {"export", Value(Dictionary{{"status", Value(0)}})},
      {"log", Value(Dictionary{{"status", Value(0)}, {"entries", Value(Array{})}})}};
  std::vector<RecordedRequest> requests_;
  MessagingCenterServer server_{center_socket_path(kControlServiceCenterName)};
};

}  // namespace orv::test
