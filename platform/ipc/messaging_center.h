// The messaging center: named request/reply channels between processes. A center named N is a
// Unix stream socket at <run dir>/N.sock. Every message, in both directions, is a frame: a 4-byte
// big-endian length L (1 to 16 MiB) followed by L bytes of a binary property list.
//   request root: {"name": message, "userInfo": dictionary}  ("userInfo" absent when none)
//   reply root:   {"reply": dictionary}, or {} when the handler gave no reply
// One connection carries any number of requests, answered in order.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
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

#include "platform/fs/file_descriptor.h"
#include "platform/result.h"
#include "platform/value/value.h"

namespace orv {

// The center the control service answers on; the plugin and the service both name it here.
inline constexpr std::string_view kControlServiceCenterName = "msgport.orvane";
// How many entries a "log" request of the control service gets when it names no number, and the
// most it may ask for: the service bounds larger requests to it, and the host asks for no more.
inline constexpr std::size_t kDefaultLogLines = 200;
inline constexpr std::size_t kMaxLogLines = 10'000;

// <run dir>/<name>.sock; the run dir is $ORVANE_RUNTIME_DIR when set, otherwise
// real_path(kRunDirectory). The environment is read on every call.
std::filesystem::path center_socket_path(std::string_view center_name);

// How long a client waits for a reply: 30 s, or $ORVANE_IPC_TIMEOUT_MS when it holds a positive
// number. Read on every request.
int ipc_timeout_ms();

// While a request waits for its reply, the requesting thread calls the reply-wait observer about
// every 100 ms with the time waited so far; returning false gives the request up, and it fails
// as a time-out does. The interactive host installs one, to say that it waits and to let the
// user quit meanwhile; by default there is none. The observer must not send requests itself.
using ReplyWaitObserver = std::function<bool(std::chrono::milliseconds waited)>;
void set_reply_wait_observer(ReplyWaitObserver observer);

// The client side. Requests are synchronous; one request at a time per client (a mutex
// serialises callers, so the object may be shared between threads).
class CPDistributedMessagingCenter {
 public:
  // One client per name per process: the same object for the same name.
  static std::shared_ptr<CPDistributedMessagingCenter> centerNamed(std::string_view name);

  explicit CPDistributedMessagingCenter(std::string name);
  CPDistributedMessagingCenter(const CPDistributedMessagingCenter&) = delete;
  CPDistributedMessagingCenter& operator=(const CPDistributedMessagingCenter&) = delete;

  // Synchronous round trip. A null user_info sends no "userInfo" key at all (not an empty
  // dictionary). Returns the reply dictionary, or a null Value for no reply, any transport
  // failure, a malformed answer or the time-out. The connection is kept for the next request
  // and dropped after any failure, so a late reply is never taken for a later request's.
  Value sendMessageAndReceiveReplyName(std::string_view message, const Value& user_info = Value());

  // Why the most recent request (of any thread) got a null reply, for telling a person:
  // nullopt when the service answered it. An answer of "no reply" is an answer: the service was
  // reached and chose to give none (a message it does not know, a handler with nothing to say),
  // so it is no outage to report. Error::code says which kind of failure it was:
  //   ENOENT, ECONNREFUSED   not running (no socket, or nobody listening on it)
  //   EACCES                 refused: no permission to connect to the socket
  //   ECONNRESET             refused: the service closed the connection without answering
  //                          (how it turns away a peer it does not admit)
  //   ETIMEDOUT              timed out (see ipc_timeout_ms)
  //   EPROTO, EMSGSIZE       malformed reply (not a reply, or a frame length out of range)
  //   EINVAL                 the request itself could not be encoded or is too large
  // and any other errno for the remaining system failures; Error::message is a short reason.
  std::optional<Error> last_failure() const;

  const std::string& name() const { return name_; }

 private:
  Result<Value> round_trip(std::string_view message, const Value& user_info);
  Result<Value> exchange(std::span<const std::uint8_t> payload);
  Status send_request(std::span<const std::uint8_t> payload,
                      std::chrono::steady_clock::time_point deadline);
  Result<Value> receive_reply(std::chrono::steady_clock::time_point deadline);
  Error explain(const Error& failure, int timeout_ms) const;

  std::string name_;
  std::mutex mutex_;  // one request at a time; guards socket_
  FileDescriptor socket_;
  mutable std::mutex failure_mutex_;  // apart, so asking never waits for a request in flight
  std::optional<Error> last_failure_;
};

// On the original platform a center must be unlocked before a sandboxed process may reach it.
// A Unix socket needs no unlocking on Linux: the function only accepts the client and does
// nothing with it.
void rocketbootstrap_distributedmessagingcenter_apply(
    const std::shared_ptr<CPDistributedMessagingCenter>& center);

// How much a server takes on at once. Past the connection limit a new connection takes the place
// of the one that has waited longest for input (an idle client reconnects on its next request;
// a request already being answered is never cut off), so stalled peers cannot lock out a fresh
// client.
struct ServerLimits {
  // Open connections, each served by a thread of its own. Held to at most half the process's
  // descriptor limit as well, so the rest of the process keeps descriptors for its own work.
  std::size_t max_connections = 64;
  // Once the first byte of a frame has come, the whole frame must arrive within this time, and
  // a reply must be taken within it, or the connection ends: a peer cannot hold a thread by
  // sending or reading slowly. Idle connections between frames have no deadline.
  std::chrono::milliseconds frame_timeout{10'000};
};

// The server side, used by the control service and by tests.
class MessagingCenterServer {
 public:
  // A handler gets the request's user info (null Value when the request had none) and returns
  // the reply dictionary, or nullopt for "no reply" (the client then sees a null reply).
  // Handlers may be called concurrently, from the threads of different connections; the calls
  // for one connection come one at a time, in order.
  using Handler = std::function<std::optional<Value>(const Value& user_info)>;
  // Receives one line about what the server did on its own: connections displaced or refused at
  // the limit, peers too slow to send a frame or take a reply, accept failures. Repeats are
  // summed up, at most one line per kind a minute. Called from the server's threads.
  using Log = std::function<void(std::string_view line)>;

  explicit MessagingCenterServer(std::filesystem::path socket_path, ServerLimits limits = {});
  ~MessagingCenterServer();  // stops and removes the socket file
  MessagingCenterServer(const MessagingCenterServer&) = delete;
  MessagingCenterServer& operator=(const MessagingCenterServer&) = delete;

  // Register before start(); a message nobody registered is answered with "no reply".
  void register_handler(std::string message, Handler handler);
  // Optional admission check by the peer's credentials (SO_PEERCRED); a refused connection is
  // closed without an answer. Set before start().
  void set_peer_filter(std::function<bool(uid_t uid, gid_t gid)> filter);
  // The socket file's mode (0660 unless set) and group (the process's unless set), given to it
  // before it listens, so no client ever meets another. Set before start().
  void set_socket_access(mode_t mode, gid_t group = static_cast<gid_t>(-1));
  // Where the server's lines go; standard error when never set. Set before start().
  void set_log(Log log);

  // Binds and listens (a stale socket file is replaced) and serves on background threads, one
  // per connection.
  Status start();
  // Stops accepting, closes every connection, joins the threads and removes the socket file.
  void stop();

  const std::filesystem::path& socket_path() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace orv
