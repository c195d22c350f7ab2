// The messaging center: named request/reply channels between processes. A center named N is a
// Unix stream socket at <run dir>/N.sock. Every message, in both directions, is a frame: a 4-byte
// big-endian length L (1 to 16 MiB) followed by L bytes of a binary property list.
//   request root: {"name": message, "userInfo": dictionary}  ("userInfo" absent when none)
//   reply root:   {"reply": dictionary}, or {} when the handler gave no reply
// One connection carries any number of requests, answered in order.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/value/value.h"

namespace orv {

// <run dir>/<name>.sock; the run dir is $ORVANE_RUNTIME_DIR when set, otherwise
// real_path("/var/run/orvane"). The environment is read on every call.
std::filesystem::path center_socket_path(std::string_view center_name);

// How long a client waits for a reply: 30 s, or $ORVANE_IPC_TIMEOUT_MS when it holds a positive
// number. Read on every request.
int ipc_timeout_ms();

// The client side. Requests are synchronous; one request at a time per client (a mutex
// serialises callers, so the object may be shared between threads).
class CPDistributedMessagingCenter {
 public:
  // One client per name per process: the same object for the same name.
  static std::shared_ptr<CPDistributedMessagingCenter> centerNamed(std::string_view name);

  explicit CPDistributedMessagingCenter(std::string name);
  ~CPDistributedMessagingCenter();
  CPDistributedMessagingCenter(const CPDistributedMessagingCenter&) = delete;
  CPDistributedMessagingCenter& operator=(const CPDistributedMessagingCenter&) = delete;

  // Synchronous round trip. A null user_info sends no "userInfo" key at all (not an empty
  // dictionary). Returns the reply dictionary, or a null Value for no reply, any transport
  // failure, a malformed answer or the time-out. The connection is kept for the next request
  // and dropped after any failure, so a late reply is never taken for a later request's.
  Value sendMessageAndReceiveReplyName(std::string_view message, const Value& user_info = Value());

  const std::string& name() const { return name_; }

 private:
  enum class Attempt { Answered, Failed, RetryOnFreshConnection };
  Attempt attempt(std::span<const std::uint8_t> payload, bool on_kept_connection,
                  std::chrono::steady_clock::time_point deadline, Value& reply);
  void disconnect();

  std::string name_;
  std::mutex mutex_;
  int fd_ = -1;
};

// On the original platform a center must be unlocked before a sandboxed process may reach it.
// A Unix socket needs no unlocking on Linux: the function only accepts the client and does
// nothing with it.
void rocketbootstrap_distributedmessagingcenter_apply(
    const std::shared_ptr<CPDistributedMessagingCenter>& center);

// The server side, used by the control service and by tests.
class MessagingCenterServer {
 public:
  // A handler gets the request's user info (null Value when the request had none) and returns
  // the reply dictionary, or nullopt for "no reply" (the client then sees a null reply).
  // Handlers may be called concurrently, from the threads of different connections; the calls
  // for one connection come one at a time, in order.
  using Handler = std::function<std::optional<Value>(const Value& user_info)>;

  explicit MessagingCenterServer(std::filesystem::path socket_path);
  ~MessagingCenterServer();  // stops and removes the socket file
  MessagingCenterServer(const MessagingCenterServer&) = delete;
  MessagingCenterServer& operator=(const MessagingCenterServer&) = delete;

  // Register before start(); a message nobody registered is answered with "no reply".
  void register_handler(std::string message, Handler handler);
  // Optional admission check by the peer's credentials (SO_PEERCRED); a refused connection is
  // closed without an answer. Set before start().
  void set_peer_filter(std::function<bool(uid_t uid, gid_t gid)> filter);

  // Binds and listens (socket mode 0660; a stale socket file is replaced) and serves on
  // background threads, one per connection. False on failure, with errno kept.
  bool start();
  // Stops accepting, closes every connection, joins the threads and removes the socket file.
  void stop();

  const std::filesystem::path& socket_path() const;

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace orv
