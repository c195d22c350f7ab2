// Frame transfer over a connected Unix stream socket, with an optional deadline. Writes go out
// as one sendmsg of header and payload (MSG_NOSIGNAL: a closed peer is an error, not a signal);
// reads refuse a bad length before allocating anything and grow the payload only as its bytes
// arrive, so a peer that announces a large frame and stalls costs no memory. Failures carry the
// errno behind them: ETIMEDOUT for a passed deadline, EMSGSIZE for a length outside the allowed
// range, EPROTO for a peer that closed inside a frame.
#pragma once

#include <sys/un.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>

#include "platform/fs/file_descriptor.h"
#include "platform/result.h"
#include "platform/value/value.h"

namespace orv::ipc {

using Deadline = std::optional<std::chrono::steady_clock::time_point>;

// The address of the Unix socket at path; ENAMETOOLONG when the path does not fit.
Result<sockaddr_un> unix_socket_address(const std::filesystem::path& path);

// A new connected socket (close-on-exec) to the Unix socket at path.
Result<FileDescriptor> connect_unix(const std::filesystem::path& path);

Status write_frame(int fd, std::span<const std::uint8_t> payload, Deadline deadline);

enum class Arrival {
  Frame,        // a whole frame arrived
  ClosedClean,  // the peer closed before the first byte of a frame
};
Result<Arrival> read_frame(int fd, Bytes& payload, Deadline deadline);

// Waits until fd has something to read, the peer closed, or the connection was shut down.
Status wait_readable(int fd, Deadline deadline);

// True when a kept, idle connection is still usable: the peer has not closed it and has sent
// nothing unasked.
bool idle_connection_alive(int fd);

}  // namespace orv::ipc
