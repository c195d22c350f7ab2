// The physical limit of a messaging-center round trip: the same request and reply frames moved
// through a Unix socket to an echo thread that answers with pre-encoded bytes, with no codec and
// no values. Benchmarks of the real round trip report their time against this one.
#pragma once

#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <thread>

#include "platform/ipc/frame.h"
#include "platform/value/value.h"

namespace orv::bench {

inline Bytes framed(Bytes payload) {
  std::uint8_t header[ipc::kFrameHeaderSize];
  ipc::put_frame_length(static_cast<std::uint32_t>(payload.size()), header);
  payload.insert(payload.begin(), header, header + sizeof header);
  return payload;
}

inline bool send_all(int fd, const Bytes& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

inline bool recv_all(int fd, std::uint8_t* data, std::size_t size) {
  std::size_t got = 0;
  while (got < size) {
    const ssize_t n = ::recv(fd, data + got, size - got, 0);
    if (n <= 0) return false;
    got += static_cast<std::size_t>(n);
  }
  return true;
}

// Reads one frame (header, then exactly its length) into buffer.
inline bool recv_frame(int fd, Bytes& buffer) {
  std::uint8_t header[ipc::kFrameHeaderSize];
  if (!recv_all(fd, header, sizeof header)) return false;
  const std::optional<std::uint32_t> length = ipc::parse_frame_length(header);
  if (!length) return false;
  buffer.resize(*length);
  return recv_all(fd, buffer.data(), buffer.size());
}

// Times round trips of the two frames (each already framed) for the benchmark's iterations.
inline void measure_bare_round_trip(benchmark::State& state, const Bytes& request,
                                    const Bytes& reply) {
  state.counters["reply_bytes"] = static_cast<double>(reply.size());
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
    state.SkipWithError("socketpair failed");
    return;
  }
  std::thread echo([fd = fds[1], &reply] {
    Bytes buffer;
    while (recv_frame(fd, buffer) && send_all(fd, reply)) {
    }
  });
  Bytes answer;
  for (auto _ : state) {
    if (!send_all(fds[0], request) || !recv_frame(fds[0], answer)) state.SkipWithError("io");
    benchmark::DoNotOptimize(answer.data());
  }
  ::shutdown(fds[0], SHUT_RDWR);
  echo.join();
  ::close(fds[0]);
  ::close(fds[1]);
}

}  // namespace orv::bench
