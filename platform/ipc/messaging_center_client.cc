#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <map>

#include "platform/fs/root.h"
#include "platform/ipc/frame.h"
#include "platform/ipc/messaging_center.h"
#include "platform/ipc/socket_io.h"

namespace orv {

namespace {

constexpr int kDefaultTimeoutMs = 30'000;
constexpr std::chrono::milliseconds kReplyWaitTick{100};

std::mutex g_observer_mutex;
std::shared_ptr<const ReplyWaitObserver> g_observer;

std::shared_ptr<const ReplyWaitObserver> reply_wait_observer() {
  std::lock_guard lock(g_observer_mutex);
  return g_observer;
}

// Waits for the first byte of the reply while the observer agrees, telling it the time waited
// at every tick. False when the deadline passed or the observer gave the request up; anything
// else (data, a closed or failed socket) is left to the frame reader to tell apart.
bool await_reply(int fd, std::chrono::steady_clock::time_point deadline) {
  const auto observer = reply_wait_observer();
  if (!observer) return true;
  using namespace std::chrono;
  const auto start = steady_clock::now();
  for (;;) {
    const auto now = steady_clock::now();
    if (now >= deadline) return false;
    const auto slice = std::min(kReplyWaitTick, ceil<milliseconds>(deadline - now));
    pollfd ready{fd, POLLIN, 0};
    const int events = ::poll(&ready, 1, static_cast<int>(slice.count()));
    if (events != 0 && !(events < 0 && errno == EINTR)) return true;
    if (!(*observer)(duration_cast<milliseconds>(steady_clock::now() - start))) return false;
  }
}

// A write that failed because the peer had already gone: nothing of the request reached a
// live server, so sending it again on a new connection cannot repeat an action.
bool peer_was_gone(int error) {
  return error == EPIPE || error == ECONNRESET || error == ENOTCONN;
}

}  // namespace

std::filesystem::path center_socket_path(std::string_view center_name) {
  const char* run_dir = std::getenv("ORVANE_RUNTIME_DIR");
  std::filesystem::path dir =
      run_dir && *run_dir ? std::filesystem::path(run_dir) : real_path(kRunDirectory);
  return dir / (std::string(center_name) + ".sock");
}

void set_reply_wait_observer(ReplyWaitObserver observer) {
  std::lock_guard lock(g_observer_mutex);
  g_observer = observer ? std::make_shared<const ReplyWaitObserver>(std::move(observer)) : nullptr;
}

int ipc_timeout_ms() {
  const char* text = std::getenv("ORVANE_IPC_TIMEOUT_MS");
  if (!text) return kDefaultTimeoutMs;
  int value = 0;
  const char* end = text + std::char_traits<char>::length(text);
  auto [ptr, ec] = std::from_chars(text, end, value);
  if (ec != std::errc() || ptr != end || value <= 0) return kDefaultTimeoutMs;
  return value;
}

std::shared_ptr<CPDistributedMessagingCenter> CPDistributedMessagingCenter::centerNamed(
    std::string_view name) {
  static std::mutex registry_mutex;
  static std::map<std::string, std::shared_ptr<CPDistributedMessagingCenter>, std::less<>> registry;
  std::lock_guard lock(registry_mutex);
  auto found = registry.find(name);
  if (found != registry.end()) return found->second;
  auto center = std::make_shared<CPDistributedMessagingCenter>(std::string(name));
  registry.emplace(std::string(name), center);
  return center;
}

CPDistributedMessagingCenter::CPDistributedMessagingCenter(std::string name)
    : name_(std::move(name)) {}

CPDistributedMessagingCenter::~CPDistributedMessagingCenter() {
  disconnect();
}

void CPDistributedMessagingCenter::disconnect() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

Value CPDistributedMessagingCenter::sendMessageAndReceiveReplyName(std::string_view message,
                                                                   const Value& user_info) {
  std::optional<Bytes> payload = ipc::encode_request(message, user_info);
  if (!payload) return Value();
  std::lock_guard lock(mutex_);
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(ipc_timeout_ms());
  // A kept connection may have been closed by a server that restarted since the last request.
  if (fd_ >= 0 && !ipc::idle_connection_alive(fd_)) disconnect();
  const bool kept = fd_ >= 0;
  Value reply;
  Attempt result = attempt(*payload, kept, deadline, reply);
  if (result == Attempt::RetryOnFreshConnection) result = attempt(*payload, false, deadline, reply);
  return result == Attempt::Answered ? reply : Value();
}

CPDistributedMessagingCenter::Attempt CPDistributedMessagingCenter::attempt(
    std::span<const std::uint8_t> payload, bool on_kept_connection,
    std::chrono::steady_clock::time_point deadline, Value& reply) {
  if (fd_ < 0) fd_ = ipc::connect_unix(center_socket_path(name_));
  if (fd_ < 0) return Attempt::Failed;
  if (!ipc::write_frame(fd_, payload, deadline)) {
    const int error = errno;
    disconnect();
    return on_kept_connection && peer_was_gone(error) ? Attempt::RetryOnFreshConnection
                                                      : Attempt::Failed;
  }
  Bytes answer;
  if (!await_reply(fd_, deadline) ||
      ipc::read_frame(fd_, answer, deadline) != ipc::ReadResult::Frame) {
    disconnect();
    return Attempt::Failed;
  }
  std::optional<Value> decoded = ipc::decode_reply(answer);
  if (!decoded) {
    disconnect();
    return Attempt::Failed;
  }
  reply = std::move(*decoded);
  return Attempt::Answered;
}

void rocketbootstrap_distributedmessagingcenter_apply(
    const std::shared_ptr<CPDistributedMessagingCenter>& /*center*/) {}

}  // namespace orv
