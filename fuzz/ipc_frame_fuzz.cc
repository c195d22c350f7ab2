// Feeds arbitrary bytes to the messaging center's frame reader as a peer would send them on a
// socket, and every frame that arrives to the request and reply parsers. A reply that parses must
// re-encode to a frame that parses to the same reply; nothing may crash or over-allocate.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/ipc/frame.h"
#include "platform/ipc/socket_io.h"

namespace {

void check_payload(const orv::Bytes& payload) {
  (void)orv::ipc::decode_request(payload);
  const std::optional<orv::Value> reply = orv::ipc::decode_reply(payload);
  if (!reply) return;
  const orv::Bytes again =
      orv::ipc::encode_reply(reply->is_null() ? std::nullopt : std::optional<orv::Value>(*reply));
  const std::optional<orv::Value> second = orv::ipc::decode_reply(again);
  if (!second || second->is_null() != reply->is_null()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Inputs larger than a socket buffer would block the single-threaded write below.
  if (size > 64 * 1024) return 0;
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return 0;
  if (size > 0 && ::send(fds[0], data, size, MSG_NOSIGNAL) != static_cast<ssize_t>(size)) {
    ::close(fds[0]);
    ::close(fds[1]);
    return 0;
  }
  ::shutdown(fds[0], SHUT_WR);
  orv::Bytes payload;
  for (;;) {
    const orv::Result<orv::ipc::Arrival> arrival =
        orv::ipc::read_frame(fds[1], payload, std::nullopt);
    if (!arrival || *arrival != orv::ipc::Arrival::Frame) break;
    check_payload(payload);
  }
  ::close(fds[0]);
  ::close(fds[1]);
  return 0;
}
