#include "platform/ipc/socket_io.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/ipc/frame.h"

namespace orv::ipc {
namespace {

// Milliseconds left before the deadline for poll(): -1 without a deadline, 0 once it passed.
int poll_timeout(Deadline deadline) {
  if (!deadline) return -1;
  auto left =
      std::chrono::ceil<std::chrono::milliseconds>(*deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Waits until fd is ready for `events`; false on time-out or error.
bool wait_ready(int fd, short events, Deadline deadline) {
  pollfd p{fd, events, 0};
  for (;;) {
    int n = ::poll(&p, 1, poll_timeout(deadline));
    if (n > 0) return true;
    if (n == 0) {
      errno = ETIMEDOUT;
      return false;
    }
    if (errno != EINTR) return false;
  }
}

enum class Received { All, ClosedBeforeAny, Failed };

// Receives exactly buffer.size() bytes, telling a close before the first byte apart from a
// close, error or time-out after it.
Received recv_exact(int fd, std::span<std::uint8_t> buffer, Deadline deadline) {
  std::size_t received = 0;
  while (received < buffer.size()) {
    ssize_t n = ::recv(fd, buffer.data() + received, buffer.size() - received, MSG_DONTWAIT);
    if (n > 0) {
      received += static_cast<std::size_t>(n);
    } else if (n == 0) {
      return received == 0 ? Received::ClosedBeforeAny : Received::Failed;
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (!wait_ready(fd, POLLIN, deadline)) return Received::Failed;
    } else if (errno != EINTR) {
      return Received::Failed;
    }
  }
  return Received::All;
}

// Advances the iovec array past `n` sent bytes.
void consume(iovec*& iov, int& count, std::size_t n) {
  while (count > 0 && n >= iov->iov_len) {
    n -= iov->iov_len;
    ++iov;
    --count;
  }
  if (count > 0) {
    iov->iov_base = static_cast<char*>(iov->iov_base) + n;
    iov->iov_len -= n;
  }
}

}  // namespace

int connect_unix(const std::filesystem::path& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string& text = path.native();
  if (text.empty() || text.size() >= sizeof(address.sun_path)) {
    errno = ENAMETOOLONG;
    return -1;
  }
  std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int rc;
  do {
    rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    int saved = errno;
    ::close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

bool write_frame(int fd, std::span<const std::uint8_t> payload, Deadline deadline) {
  if (payload.empty() || payload.size() > kMaxFrameLength) {
    errno = EMSGSIZE;
    return false;
  }
  std::uint8_t header[kFrameHeaderSize];
  put_frame_length(static_cast<std::uint32_t>(payload.size()), header);
  iovec parts[2] = {{header, sizeof(header)},
                    {const_cast<std::uint8_t*>(payload.data()), payload.size()}};
  iovec* iov = parts;
  int count = 2;
  while (count > 0) {
    msghdr message{};
    message.msg_iov = iov;
    message.msg_iovlen = static_cast<std::size_t>(count);
    ssize_t n = ::sendmsg(fd, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n >= 0) {
      consume(iov, count, static_cast<std::size_t>(n));
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (!wait_ready(fd, POLLOUT, deadline)) return false;
    } else if (errno != EINTR) {
      return false;
    }
  }
  return true;
}

ReadResult read_frame(int fd, Bytes& payload, Deadline deadline) {
  std::uint8_t header[kFrameHeaderSize];
  switch (recv_exact(fd, header, deadline)) {
    case Received::All:
      break;
    case Received::ClosedBeforeAny:
      return ReadResult::ClosedClean;
    case Received::Failed:
      return ReadResult::Failed;
  }
  std::optional<std::uint32_t> length = parse_frame_length(header);
  if (!length) return ReadResult::Failed;
  payload.resize(*length);
  return recv_exact(fd, payload, deadline) == Received::All ? ReadResult::Frame
                                                            : ReadResult::Failed;
}

bool idle_connection_alive(int fd) {
  std::uint8_t byte;
  ssize_t n = ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
  return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
}

}  // namespace orv::ipc
