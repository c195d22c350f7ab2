#include "tests/support/scripted_service.h"

#include <stdexcept>

namespace orv::test {

namespace {

constexpr const char* kAnsweredMessages[] = {"listAll", "startOne", "export", "log"};

std::filesystem::path prepared_socket_path() {
  std::filesystem::path path = center_socket_path(kControlServiceCenterName);
  std::filesystem::create_directories(path.parent_path());
  return path;
}

}  // namespace

void link_staged_bundle(const TempDir& root) {
  const std::filesystem::path link = root.real(kPluginBundle);
  std::filesystem::create_directories(link.parent_path());
  std::filesystem::create_directory_symlink(
      std::filesystem::path(ORVANE_BINARY_DIR) / "root" / kPluginBundle.substr(1), link);
}

PluginTestRoot::PluginTestRoot() : dir_(TempDir::AsRoot::Yes) {
  link_staged_bundle(dir_);
}

void PluginTestRoot::reset_settings() const {
  write_xml_plist(real(kSettingsFile), Value(Dictionary{}));
}

ScriptedService::ScriptedService() : server_(prepared_socket_path()) {
  replies_["listAll"] = Value(Dictionary{{"data", Value(Array{})}});
  replies_["startOne"] = Value(Dictionary{{"status", Value(0)}});
  replies_["export"] = Value(Dictionary{{"status", Value(0)}});
  replies_["log"] = Value(Dictionary{{"status", Value(0)}, {"entries", Value(Array{})}});
  for (const char* message : kAnsweredMessages)
    server_.register_handler(
        message, [this, message](const Value& user_info) { return answer(message, user_info); });
  if (!server_.start())
    throw std::runtime_error("scripted service: cannot listen on " + socket_path().string());
}

ScriptedService::~ScriptedService() {
  server_.stop();
}

std::optional<Value> ScriptedService::answer(const std::string& message, const Value& user_info) {
  std::lock_guard lock(mutex_);
  requests_.push_back({message, user_info});
  return replies_[message];
}

void ScriptedService::set_reply(std::string_view message, std::optional<Value> reply) {
  std::lock_guard lock(mutex_);
  replies_[std::string(message)] = std::move(reply);
}

std::vector<RecordedRequest> ScriptedService::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::vector<RecordedRequest> ScriptedService::requests_named(std::string_view message) const {
  std::vector<RecordedRequest> matching;
  for (RecordedRequest& request : requests())
    if (request.name == message) matching.push_back(std::move(request));
  return matching;
}

}  // namespace orv::test
