// A connection to a systemd manager over D-Bus, used from one thread only: the loop thread owns
// the connection, dispatches its replies and signals, and runs the work other threads post to
// it. sd-bus objects are not thread-safe, so nothing else touches them.
#pragma once

#include <systemd/sd-bus.h>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/fs/file_descriptor.h"
#include "platform/result.h"

namespace orv::service {

inline constexpr const char* kManagerService = "org.freedesktop.systemd1";
inline constexpr const char* kManagerPath = "/org/freedesktop/systemd1";
inline constexpr const char* kManagerInterface = "org.freedesktop.systemd1.Manager";
inline constexpr const char* kPropertiesInterface = "org.freedesktop.DBus.Properties";

struct MessageUnref {
  void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using BusMessage = std::unique_ptr<sd_bus_message, MessageUnref>;

// Called with the reply, or with null when the call could not be sent.
using ReplyHandler = std::function<void(sd_bus_message* reply)>;
using SignalHandler = std::function<void(sd_bus_message* signal)>;
using BusWork = std::function<void(sd_bus* bus)>;

class BusLoop {
 public:
  BusLoop() = default;
  BusLoop(const BusLoop&) = delete;
  BusLoop& operator=(const BusLoop&) = delete;
  ~BusLoop();

  // Called once on the loop thread when the connection is lost; set before start.
  void set_on_lost(std::function<void()> on_lost) { on_lost_ = std::move(on_lost); }
  // Connects to the bus ("system", "user" or a D-Bus address: of a bus, or of a manager's
  // private socket) and starts the loop thread, which runs `ready` first.
  Status start(const std::string& bus, BusWork ready);
  // Ends the loop thread (work still posted is dropped); the connection stays until destruction.
  void stop();
  // Runs the work on the loop thread, soon. Work posted after the loop has ended is dropped.
  void post(BusWork work);

  // For the loop thread only.
  // True when the peer is a message bus rather than the manager itself.
  bool is_bus_client() const { return bus_client_; }
  // The user the manager runs as: root for the system manager, the user of a user manager.
  std::string manager_user(sd_bus* bus) const;
  // A call to the manager; the handler runs on the loop thread with the reply.
  static void call(sd_bus* bus, BusMessage call, std::chrono::microseconds timeout,
                   ReplyHandler handler);
  // Follows a signal of the manager: on a bus only those the manager sends.
  void follow(sd_bus* bus, const std::string& match, SignalHandler handler);
  // On a bus, follows the manager's arrivals on it (a restarted manager, say); on a direct
  // connection there are none.
  void follow_manager_arrival(sd_bus* bus, std::function<void()> arrived);

 private:
  void run();
  void run_posted();
  void wait_for_events();
  void add_match(sd_bus* bus, const std::string& rule, SignalHandler handler);

  sd_bus* bus_ = nullptr;
  bool bus_client_ = true;
  FileDescriptor wake_;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<BusWork> posted_;
  bool stopping_ = false;
  std::vector<std::unique_ptr<SignalHandler>> signal_handlers_;
  std::function<void()> on_lost_;
};

// A method call to the manager, to be filled by the caller; null when it cannot be made.
BusMessage new_call(sd_bus* bus, const char* path, const char* interface, const char* member);
// Why the call failed ("no reply" for null), or nullopt for a method return.
std::optional<std::string> reply_error(sd_bus_message* reply);

}  // namespace orv::service
