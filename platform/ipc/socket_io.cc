#include "platform/ipc/socket_io.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "platform/ipc/frame.h"

namespace orv::ipc {
namespace {

// The first piece of a payload buffer; it doubles from there while bytes keep arriving.
constexpr std::size_t kFirstPayloadChunk = 64 * 1024;

// Milliseconds left before the deadline for poll(): -1 without a deadline, 0 once it passed.
int poll_timeout(Deadline deadline) {
  if (!deadline) return -1;
  auto left =
      std::chrono::ceil<std::chrono::milliseconds>(*deadline - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

Status wait_ready(int fd, short events, Deadline deadline) {
  pollfd p{fd, events, 0};
  for (;;) {
    int n = ::poll(&p, 1, poll_timeout(deadline));
    if (n > 0) return {};
    if (n == 0) return fail("timed out", ETIMEDOUT);
    if (errno != EINTR) return fail_errno("poll");
  }
}

// Some bytes into buffer once they are there: how many, or 0 when the peer closed.
Result<std::size_t> recv_some(int fd, std::span<std::uint8_t> buffer, Deadline deadline) {
  for (;;) {
    ssize_t n = ::recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (Status ready = wait_ready(fd, POLLIN, deadline); !ready) return fail(ready.error());
    } else if (errno != EINTR) {
      return fail_errno("recv");
    }
  }
}

tl::unexpected<Error> closed_inside_frame() {
  return fail("the peer closed the connection inside a frame", EPROTO);
}

tl::unexpected<Error> length_out_of_range(std::size_t length) {
  return fail("a frame of " + std::to_string(length) + " bytes is outside 1 to " +
                  std::to_string(kMaxFrameLength),
              EMSGSIZE);
}

// Reads the payload of an announced length, growing the buffer only once bytes are waiting.
Status read_payload(int fd, std::uint32_t length, Bytes& payload, Deadline deadline) {
  payload.clear();
  std::size_t received = 0;
  while (received < length) {
    if (received == payload.size()) {
      if (Status ready = wait_ready(fd, POLLIN, deadline); !ready) return ready;
      payload.resize(std::min<std::size_t>(length, std::max(kFirstPayloadChunk, 2 * received)));
    }
    Result<std::size_t> n =
        recv_some(fd, std::span(payload).subspan(received, payload.size() - received), deadline);
    if (!n) return fail(n.error());
    if (*n == 0) return closed_inside_frame();
    received += *n;
  }
  return {};
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

Result<sockaddr_un> unix_socket_address(const std::filesystem::path& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string& text = path.native();
  if (text.empty() || text.size() >= sizeof(address.sun_path))
    return fail_errno("socket path " + text, ENAMETOOLONG);
  std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
  return address;
}

Result<FileDescriptor> connect_unix(const std::filesystem::path& path) {
  Result<sockaddr_un> address = unix_socket_address(path);
  if (!address) return fail(address.error());
  FileDescriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!socket.valid()) return fail_errno("socket");
  int rc;
  do {
    rc = ::connect(socket.get(), reinterpret_cast<const sockaddr*>(&*address), sizeof(*address));
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) return fail_errno("connect to " + path.string());
  return socket;
}

Status write_frame(int fd, std::span<const std::uint8_t> payload, Deadline deadline) {
  if (payload.empty() || payload.size() > kMaxFrameLength)
    return length_out_of_range(payload.size());
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
      if (Status ready = wait_ready(fd, POLLOUT, deadline); !ready) return ready;
    } else if (errno != EINTR) {
      return fail_errno("send");
    }
  }
  return {};
}

Result<Arrival> read_frame(int fd, Bytes& payload, Deadline deadline) {
  std::uint8_t header[kFrameHeaderSize];
  std::size_t received = 0;
  while (received < sizeof(header)) {
    Result<std::size_t> n = recv_some(fd, std::span(header).subspan(received), deadline);
    if (!n) return fail(n.error());
    if (*n == 0)
      return received == 0 ? Result<Arrival>(Arrival::ClosedClean) : closed_inside_frame();
    received += *n;
  }
  std::optional<std::uint32_t> length = parse_frame_length(header);
  if (!length) return length_out_of_range(announced_frame_length(header));
  if (Status read = read_payload(fd, *length, payload, deadline); !read) return fail(read.error());
  return Arrival::Frame;
}

Status wait_readable(int fd, Deadline deadline) {
  return wait_ready(fd, POLLIN, deadline);
}

bool idle_connection_alive(int fd) {
  std::uint8_t byte;
  ssize_t n = ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
  return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
}

}  // namespace orv::ipc
