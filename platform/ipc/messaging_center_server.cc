#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <list>
#include <map>
#include <thread>

#include "platform/ipc/frame.h"
#include "platform/ipc/messaging_center.h"
#include "platform/ipc/server_log.h"
#include "platform/ipc/socket_io.h"

namespace orv {

namespace {

using Clock = std::chrono::steady_clock;

// How long the acceptor rests after the system ran out of descriptors or memory: retrying at
// once would only spin, since the waiting connection keeps the listening socket readable.
constexpr std::chrono::milliseconds kAcceptPause{100};

// A payload buffer kept between requests is given back above this size.
constexpr std::size_t kKeptBufferBytes = 1024 * 1024;

// Makes the path free for a new socket: a socket file nobody answers on is removed; a live
// server or a file of another kind is left alone.
Status clear_stale_socket(const std::filesystem::path& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0)
    return errno == ENOENT ? Status() : fail_errno("lstat " + path.string());
  if (!S_ISSOCK(info.st_mode)) return fail(path.string() + " exists and is not a socket", EEXIST);
  if (ipc::connect_unix(path))
    return fail("another server answers on " + path.string(), EADDRINUSE);
  if (::unlink(path.c_str()) != 0 && errno != ENOENT)
    return fail_errno("remove the stale socket " + path.string());
  return {};
}

Result<FileDescriptor> bind_listening_socket(const std::filesystem::path& path, mode_t mode,
                                             gid_t group) {
  Result<sockaddr_un> address = ipc::unix_socket_address(path);
  if (!address) return fail(address.error());
  FileDescriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!socket.valid()) return fail_errno("socket");
  if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&*address), sizeof(*address)) != 0)
    return fail_errno("bind " + path.string());
  // The mode is set before listen(), so no client can connect while it is still wider.
  if (::lchown(path.c_str(), static_cast<uid_t>(-1), group) != 0)
    return fail_errno("chown " + path.string());
  if (::chmod(path.c_str(), mode) != 0) return fail_errno("chmod " + path.string());
  if (::listen(socket.get(), SOMAXCONN) != 0) return fail_errno("listen on " + path.string());
  return socket;
}

// The configured limit, held to half the descriptors the process may open.
std::size_t connection_limit(std::size_t configured) {
  rlimit files{};
  if (::getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur == RLIM_INFINITY)
    return std::max<std::size_t>(configured, 1);
  return std::clamp<std::size_t>(files.rlim_cur / 2, 1, std::max<std::size_t>(configured, 1));
}

bool out_of_resources(int error) {
  return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

}  // namespace

struct MessagingCenterServer::State {
  struct Connection {
    enum class Phase { Waiting, Busy, Displaced };
    FileDescriptor socket;  // closed by its own thread as it finishes
    Phase phase = Phase::Waiting;
    Clock::time_point last_active = Clock::now();
    bool done = false;
    std::thread thread;
  };

  std::filesystem::path path;
  ServerLimits limits;
  std::size_t max_connections = 0;
  ino_t socket_inode = 0;
  ipc::ServerLog log;

  std::mutex handlers_mutex;  // guards handlers and serialises every handler call
  std::map<std::string, Handler, std::less<>> handlers;
  std::function<bool(uid_t, gid_t)> peer_filter;
  mode_t socket_mode = 0660;
  gid_t socket_group = static_cast<gid_t>(-1);

  FileDescriptor listen_socket;
  FileDescriptor wake;  // written by stop() to end the accept loop
  std::thread acceptor;
  std::mutex connections_mutex;  // guards connections and each one's socket, phase and times
  std::list<Connection> connections;

  void accept_loop();
  bool pause_accepting();
  void admit(FileDescriptor socket);
  bool admitted(int fd) const;
  bool make_room();
  void serve(Connection& connection);
  bool begin_request(Connection& connection);
  bool answer_request(int fd, const Bytes& payload);
  void end_request(Connection& connection);
  Bytes answer(const ipc::Request& request);
  void reap_finished_connections();
  void close_connections();
  void remove_socket_file() const;
};

void MessagingCenterServer::State::accept_loop() {
  pollfd watched[2] = {{listen_socket.get(), POLLIN, 0}, {wake.get(), POLLIN, 0}};
  for (;;) {
    if (::poll(watched, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (watched[1].revents != 0) return;  // stop() asked us to finish
    if (watched[0].revents & (POLLERR | POLLNVAL)) return;
    FileDescriptor accepted(::accept4(listen_socket.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (accepted.valid()) {
      admit(std::move(accepted));
    } else if (const int error = errno; out_of_resources(error)) {
      log.note(ipc::ServerLog::AcceptFailed,
               Error::from_errno("cannot accept a connection", error).message);
      if (!pause_accepting()) return;
    }
  }
}

// Rests before the next accept; false when stop() asked to finish meanwhile.
bool MessagingCenterServer::State::pause_accepting() {
  pollfd woken{wake.get(), POLLIN, 0};
  return ::poll(&woken, 1, static_cast<int>(kAcceptPause.count())) == 0;
}

void MessagingCenterServer::State::admit(FileDescriptor socket) {
  if (!admitted(socket.get())) return;
  reap_finished_connections();
  if (!make_room()) {
    log.note(ipc::ServerLog::Refused, "at the limit of " + std::to_string(max_connections) +
                                          " connections, all busy: a new connection was refused");
    return;
  }
  std::lock_guard lock(connections_mutex);
  Connection& connection = connections.emplace_back();
  connection.socket = std::move(socket);
  try {
    connection.thread = std::thread([this, &connection] { serve(connection); });
  } catch (const std::system_error& error) {
    connections.pop_back();
    log.note(ipc::ServerLog::Refused,
             std::string("cannot start a connection's thread: ") + error.what());
  }
}

bool MessagingCenterServer::State::admitted(int fd) const {
  if (!peer_filter) return true;
  ucred credentials{};
  socklen_t size = sizeof(credentials);
  return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0 &&
         peer_filter(credentials.uid, credentials.gid);
}

// Below the limit, or brought below it by ending the connection that has waited longest for
// input; false when every connection is busy with a request.
bool MessagingCenterServer::State::make_room() {
  std::list<Connection> displaced;
  {
    std::lock_guard lock(connections_mutex);
    if (connections.size() < max_connections) return true;
    auto oldest = connections.end();
    for (auto it = connections.begin(); it != connections.end(); ++it) {
      if (it->phase == Connection::Phase::Waiting &&
          (oldest == connections.end() || it->last_active < oldest->last_active))
        oldest = it;
    }
    if (oldest == connections.end()) return false;
    oldest->phase = Connection::Phase::Displaced;
    ::shutdown(oldest->socket.get(), SHUT_RDWR);
    displaced.splice(displaced.end(), connections, oldest);
  }
  // Joined without the lock: the thread takes it once more to finish.
  displaced.front().thread.join();
  log.note(ipc::ServerLog::Displaced,
           "at the limit of " + std::to_string(max_connections) +
               " connections: the one waiting longest for input was closed for a new one");
  return true;
}

void MessagingCenterServer::State::serve(Connection& connection) {
  const int fd = connection.socket.get();  // only this thread closes it
  Bytes payload;
  // Waiting for a frame has no deadline; once its first byte is here, the rest must follow
  // within the frame time-out.
  while (ipc::wait_readable(fd, std::nullopt)) {
    Result<ipc::Arrival> arrival =
        ipc::read_frame(fd, payload, Clock::now() + limits.frame_timeout);
    if (!arrival) {
      if (arrival.error().code == ETIMEDOUT)
        log.note(ipc::ServerLog::SlowPeer, "a frame did not arrive whole in time: peer dropped");
      break;
    }
    if (*arrival == ipc::Arrival::ClosedClean || !begin_request(connection)) break;
    const bool answered = answer_request(fd, payload);
    end_request(connection);
    if (!answered) break;
    if (payload.capacity() > kKeptBufferBytes) Bytes().swap(payload);
  }
  std::lock_guard lock(connections_mutex);
  connection.socket = FileDescriptor();
  connection.done = true;
}

// False when the connection is to end: a malformed request (it gets no answer), or a peer that
// does not take its reply in time.
bool MessagingCenterServer::State::answer_request(int fd, const Bytes& payload) {
  std::optional<ipc::Request> request = ipc::decode_request(payload);
  if (!request) return false;
  const Bytes reply = answer(*request);
  if (reply.empty()) return false;
  Status written = ipc::write_frame(fd, reply, Clock::now() + limits.frame_timeout);
  if (!written && written.error().code == ETIMEDOUT)
    log.note(ipc::ServerLog::SlowPeer, "a reply was not taken in time: peer dropped");
  return written.has_value();
}

// Marks the connection busy for the request that arrived; false when it was displaced first,
// so a request either runs and is answered or does not run at all.
bool MessagingCenterServer::State::begin_request(Connection& connection) {
  std::lock_guard lock(connections_mutex);
  if (connection.phase == Connection::Phase::Displaced) return false;
  connection.phase = Connection::Phase::Busy;
  return true;
}

void MessagingCenterServer::State::end_request(Connection& connection) {
  std::lock_guard lock(connections_mutex);
  connection.phase = Connection::Phase::Waiting;
  connection.last_active = Clock::now();
}

Bytes MessagingCenterServer::State::answer(const ipc::Request& request) {
  std::optional<Value> reply;
  {
    std::lock_guard lock(handlers_mutex);
    auto found = handlers.find(request.name);
    if (found != handlers.end()) {
      try {
        reply = found->second(request.user_info);
      } catch (...) {
        reply.reset();  // a failing handler gives "no reply" instead of ending the server
      }
    }
  }
  return ipc::encode_reply(reply);
}

void MessagingCenterServer::State::reap_finished_connections() {
  std::list<Connection> finished;
  {
    std::lock_guard lock(connections_mutex);
    for (auto it = connections.begin(); it != connections.end();) {
      auto next = std::next(it);
      if (it->done) finished.splice(finished.end(), connections, it);
      it = next;
    }
  }
  for (Connection& connection : finished)
    connection.thread.join();
}

void MessagingCenterServer::State::close_connections() {
  {
    std::lock_guard lock(connections_mutex);
    for (Connection& connection : connections) {
      if (connection.socket.valid()) ::shutdown(connection.socket.get(), SHUT_RDWR);
    }
  }
  // Joined without the lock: each thread takes it once more to mark itself done.
  for (Connection& connection : connections)
    connection.thread.join();
  connections.clear();
}

void MessagingCenterServer::State::remove_socket_file() const {
  // Only our own socket: a newer server may have replaced the file since.
  struct stat info {};
  if (::lstat(path.c_str(), &info) == 0 && info.st_ino == socket_inode) ::unlink(path.c_str());
}

MessagingCenterServer::MessagingCenterServer(std::filesystem::path socket_path, ServerLimits limits)
    : state_(std::make_unique<State>()) {
  state_->path = std::move(socket_path);
  state_->limits = limits;
}

MessagingCenterServer::~MessagingCenterServer() {
  stop();
}

void MessagingCenterServer::register_handler(std::string message, Handler handler) {
  std::lock_guard lock(state_->handlers_mutex);
  state_->handlers[std::move(message)] = std::move(handler);
}

void MessagingCenterServer::set_peer_filter(std::function<bool(uid_t uid, gid_t gid)> filter) {
  state_->peer_filter = std::move(filter);
}

void MessagingCenterServer::set_socket_access(mode_t mode, gid_t group) {
  state_->socket_mode = mode;
  state_->socket_group = group;
}

void MessagingCenterServer::set_log(Log log) {
  state_->log.set_sink(std::move(log));
}

const std::filesystem::path& MessagingCenterServer::socket_path() const {
  return state_->path;
}

Status MessagingCenterServer::start() {
  State& s = *state_;
  if (s.listen_socket.valid()) return {};
  std::error_code ignored;
  std::filesystem::create_directories(s.path.parent_path(), ignored);
  if (Status cleared = clear_stale_socket(s.path); !cleared) return cleared;
  Result<FileDescriptor> listening = bind_listening_socket(s.path, s.socket_mode, s.socket_group);
  if (!listening) return fail(listening.error());
  s.listen_socket = std::move(*listening);
  struct stat info {};
  if (::lstat(s.path.c_str(), &info) == 0) s.socket_inode = info.st_ino;
  s.max_connections = connection_limit(s.limits.max_connections);
  s.wake = FileDescriptor(::eventfd(0, EFD_CLOEXEC));
  if (!s.wake.valid()) {
    Error error = Error::from_errno("eventfd");
    stop();
    return fail(std::move(error));
  }
  try {
    s.acceptor = std::thread([&s] { s.accept_loop(); });
  } catch (const std::system_error& error) {
    stop();
    return fail(std::string("cannot start the accepting thread: ") + error.what(), EAGAIN);
  }
  return {};
}

void MessagingCenterServer::stop() {
  State& s = *state_;
  if (!s.listen_socket.valid()) return;
  if (s.acceptor.joinable()) {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t written = ::write(s.wake.get(), &one, sizeof(one));
    s.acceptor.join();
  }
  s.listen_socket = FileDescriptor();
  s.wake = FileDescriptor();
  s.close_connections();
  s.remove_socket_file();
}

}  // namespace orv
