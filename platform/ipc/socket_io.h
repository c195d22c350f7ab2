// Frame transfer over a connected Unix stream socket, with an optional deadline. Writes go out
// as one sendmsg of header and payload (MSG_NOSIGNAL: a closed peer is an error, not a signal);
// reads take exact lengths and refuse a bad length before allocating for it.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>

#include "platform/value/value.h"

namespace orv::ipc {

using Deadline = std::optional<std::chrono::steady_clock::time_point>;

enum class ReadResult {
  Frame,        // a whole frame arrived
  ClosedClean,  // the peer closed before the first byte of a frame
  Failed,       // error, time-out, bad length, or the peer closed inside a frame
};

// A new connected socket (close-on-exec) to the Unix socket at path, or -1 with errno set.
int connect_unix(const std::filesystem::path& path);

bool write_frame(int fd, std::span<const std::uint8_t> payload, Deadline deadline);
ReadResult read_frame(int fd, Bytes& payload, Deadline deadline);

// True when a kept, idle connection is still usable: the peer has not closed it and has sent
// nothing unasked.
bool idle_connection_alive(int fd);

}  // namespace orv::ipc
