#include "orvaned/output_capture.h"

#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "orvaned/log.h"

namespace orv::service {

namespace {

// One read of a pipe at a time, so that one flooding job cannot keep the others waiting.
constexpr std::size_t kReadBytes = 64 * 1024;
constexpr int kMaxEvents = 16;

std::string line_text(std::string_view raw) {
  if (raw.ends_with('\r')) raw.remove_suffix(1);
  return escaped(raw);
}

}  // namespace

OutputCapture::OutputCapture()
    : epoll_(::epoll_create1(EPOLL_CLOEXEC)), wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.fd = wake_.get();
  if (!epoll_.valid() || !wake_.valid() ||
      ::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, wake_.get(), &event) != 0)
    log_line(std::string("cannot watch the jobs' output: ") + std::strerror(errno));
  thread_ = std::thread([this] { run(); });
}

OutputCapture::~OutputCapture() {
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t woken = ::write(wake_.get(), &one, sizeof one);
  thread_.join();
}

void OutputCapture::watch(FileDescriptor pipe, LogStore& store, LogStream stream,
                          FileDescriptor copy) {
  const int fd = pipe.get();
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  std::lock_guard lock(mutex_);
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.fd = fd;
  if (::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, fd, &event) != 0) {
    log_line(std::string("cannot watch a job's output: ") + std::strerror(errno));
    return;
  }
  sources_.insert_or_assign(fd, Source{std::move(pipe), &store, stream, std::move(copy), {}});
}

void OutputCapture::drain(const LogStore& store) {
  std::lock_guard lock(mutex_);
  for (auto it = sources_.begin(); it != sources_.end();) {
    Source& source = (it++)->second;
    if (source.store != &store) continue;
    Read read;
    do {
      read = read_once(source);
    } while (read == Read::More);
    if (read == Read::Ended) close_source(source.pipe.get());
  }
}

void OutputCapture::run() {
  std::array<epoll_event, kMaxEvents> events{};
  while (true) {
    int ready = ::epoll_wait(epoll_.get(), events.data(), kMaxEvents, -1);
    if (ready < 0 && errno != EINTR) return;
    std::lock_guard lock(mutex_);
    for (int i = 0; i < ready; ++i) {
      const int fd = events[static_cast<std::size_t>(i)].data.fd;
      if (fd == wake_.get()) return;
      // A source drained to its end by another thread since the wait is gone.
      auto it = sources_.find(fd);
      if (it != sources_.end() && read_once(it->second) == Read::Ended) close_source(fd);
    }
  }
}

OutputCapture::Read OutputCapture::read_once(Source& source) {
  char buffer[kReadBytes];
  ssize_t n;
  do {
    n = ::read(source.pipe.get(), buffer, sizeof buffer);
  } while (n < 0 && errno == EINTR);
  if (n < 0 && errno == EAGAIN) return Read::Empty;
  if (n <= 0) {
    if (!source.partial.empty()) source.store->append(source.stream, line_text(source.partial));
    source.partial.clear();
    return Read::Ended;
  }
  std::string_view bytes(buffer, static_cast<std::size_t>(n));
  copy_out(source, bytes);
  take(source, bytes);
  return Read::More;
}

void OutputCapture::take(Source& source, std::string_view bytes) {
  while (!bytes.empty()) {
    const std::size_t room = kMaxLineBytes - source.partial.size();
    const std::size_t newline = bytes.substr(0, room).find('\n');
    if (newline == std::string_view::npos && bytes.size() < room) {
      source.partial.append(bytes);
      return;
    }
    const std::size_t piece = newline == std::string_view::npos ? room : newline;
    source.partial.append(bytes.substr(0, piece));
    source.store->append(source.stream, line_text(source.partial));
    source.partial.clear();
    bytes.remove_prefix(newline == std::string_view::npos ? piece : piece + 1);
  }
}

void OutputCapture::copy_out(Source& source, std::string_view bytes) {
  while (source.copy.valid() && !bytes.empty()) {
    ssize_t n = ::write(source.copy.get(), bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      log_line(std::string("stopped copying a job's output to its file: ") + std::strerror(errno));
      source.copy = FileDescriptor();
      return;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

void OutputCapture::close_source(int fd) {
  ::epoll_ctl(epoll_.get(), EPOLL_CTL_DEL, fd, nullptr);
  sources_.erase(fd);
}

}  // namespace orv::service
