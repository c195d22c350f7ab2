#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <list>
#include <map>
#include <thread>

#include "platform/ipc/frame.h"
#include "platform/ipc/messaging_center.h"
#include "platform/ipc/socket_io.h"

namespace orv {

namespace {

// Keeps errno across cleanup calls that may change it.
void close_keeping_errno(int fd) {
  const int saved = errno;
  ::close(fd);
  errno = saved;
}

// Makes the path free for a new socket: a socket file nobody answers on is removed; a live
// server or a file of another kind is left alone (and reported through errno).
bool clear_stale_socket(const std::filesystem::path& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return errno == ENOENT;
  if (!S_ISSOCK(info.st_mode)) {
    errno = EEXIST;
    return false;
  }
  const int probe = ipc::connect_unix(path);
  if (probe >= 0) {
    ::close(probe);
    errno = EADDRINUSE;
    return false;
  }
  return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

int bind_listening_socket(const std::filesystem::path& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.native().empty() || path.native().size() >= sizeof(address.sun_path)) {
    errno = ENAMETOOLONG;
    return -1;
  }
  std::memcpy(address.sun_path, path.c_str(), path.native().size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  // The mode is set before listen(), so no client can connect while it is still wider.
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
      ::chmod(path.c_str(), 0660) != 0 || ::listen(fd, SOMAXCONN) != 0) {
    close_keeping_errno(fd);
    return -1;
  }
  return fd;
}

}  // namespace

struct MessagingCenterServer::State {
  struct Connection {
    int fd = -1;  // -1 once the serving thread has closed it
    bool done = false;
    std::thread thread;
  };

  std::filesystem::path path;
  ino_t socket_inode = 0;

  std::mutex handlers_mutex;  // guards handlers; calls run outside it
  std::map<std::string, Handler, std::less<>> handlers;
  std::function<bool(uid_t, gid_t)> peer_filter;

  int listen_fd = -1;
  int wake_fd = -1;
  std::thread acceptor;
  std::mutex connections_mutex;
  std::list<Connection> connections;

  void accept_loop();
  void admit(int fd);
  void serve(Connection& connection, int fd);
  Bytes answer(const ipc::Request& request);
  void reap_finished_connections();
  void close_connections();
  void remove_socket_file() const;
};

void MessagingCenterServer::State::accept_loop() {
  pollfd watched[2] = {{listen_fd, POLLIN, 0}, {wake_fd, POLLIN, 0}};
  for (;;) {
    if (::poll(watched, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (watched[1].revents != 0) return;  // stop() asked us to finish
    if (watched[0].revents & (POLLERR | POLLNVAL)) return;
    const int fd = ::accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) admit(fd);
    reap_finished_connections();
  }
}

void MessagingCenterServer::State::admit(int fd) {
  if (peer_filter) {
    ucred credentials{};
    socklen_t size = sizeof(credentials);
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 ||
        !peer_filter(credentials.uid, credentials.gid)) {
      ::close(fd);
      return;
    }
  }
  std::lock_guard lock(connections_mutex);
  Connection& connection = connections.emplace_back();
  connection.fd = fd;
  try {
    connection.thread = std::thread([this, &connection, fd] { serve(connection, fd); });
  } catch (const std::system_error&) {
    ::close(fd);
    connections.pop_back();
  }
}

void MessagingCenterServer::State::serve(Connection& connection, int fd) {
  Bytes payload;
  // A malformed request or a peer that stops reading ends the connection without an answer.
  while (ipc::read_frame(fd, payload, std::nullopt) == ipc::ReadResult::Frame) {
    std::optional<ipc::Request> request = ipc::decode_request(payload);
    if (!request) break;
    const Bytes reply = answer(*request);
    if (reply.empty() || !ipc::write_frame(fd, reply, std::nullopt)) break;
  }
  std::lock_guard lock(connections_mutex);
  ::close(fd);
  connection.fd = -1;
  connection.done = true;
}

Bytes MessagingCenterServer::State::answer(const ipc::Request& request) {
  Handler handler;
  {
    std::lock_guard lock(handlers_mutex);
    auto found = handlers.find(request.name);
    if (found != handlers.end()) handler = found->second;
  }
  std::optional<Value> reply;
  if (handler) {
    try {
      reply = handler(request.user_info);
    } catch (...) {
      reply.reset();  // a failing handler gives "no reply" instead of ending the server
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
      if (connection.fd >= 0) ::shutdown(connection.fd, SHUT_RDWR);
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

MessagingCenterServer::MessagingCenterServer(std::filesystem::path socket_path)
    : state_(std::make_shared<State>()) {
  state_->path = std::move(socket_path);
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

const std::filesystem::path& MessagingCenterServer::socket_path() const {
  return state_->path;
}

bool MessagingCenterServer::start() {
  State& s = *state_;
  if (s.listen_fd >= 0) return true;
  std::error_code ignored;
  std::filesystem::create_directories(s.path.parent_path(), ignored);
  if (!clear_stale_socket(s.path)) return false;
  s.listen_fd = bind_listening_socket(s.path);
  if (s.listen_fd < 0) return false;
  struct stat info {};
  if (::lstat(s.path.c_str(), &info) == 0) s.socket_inode = info.st_ino;
  s.wake_fd = ::eventfd(0, EFD_CLOEXEC);
  if (s.wake_fd < 0) {
    const int saved = errno;
    stop();
    errno = saved;
    return false;
  }
  try {
    s.acceptor = std::thread([&s] { s.accept_loop(); });
  } catch (const std::system_error&) {
    stop();
    errno = EAGAIN;
    return false;
  }
  return true;
}

void MessagingCenterServer::stop() {
  State& s = *state_;
  if (s.listen_fd < 0) return;
  if (s.acceptor.joinable()) {
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t written = ::write(s.wake_fd, &one, sizeof(one));
    s.acceptor.join();
  }
  ::close(s.listen_fd);
  s.listen_fd = -1;
  if (s.wake_fd >= 0) ::close(s.wake_fd);
  s.wake_fd = -1;
  s.close_connections();
  s.remove_socket_file();
}

}  // namespace orv
