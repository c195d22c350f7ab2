#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <map>
#include <string>

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

Value CPDistributedMessagingCenter::sendMessageAndReceiveReplyName(std::string_view message,
                                                                   const Value& user_info) {
  Result<Value> reply = round_trip(message, user_info);
  std::lock_guard lock(failure_mutex_);
  if (reply) {
    last_failure_.reset();
    return std::move(*reply);
  }
  last_failure_ = std::move(reply.error());
  return Value();
}

std::optional<Error> CPDistributedMessagingCenter::last_failure() const {
  std::lock_guard lock(failure_mutex_);
  return last_failure_;
}

Result<Value> CPDistributedMessagingCenter::round_trip(std::string_view message,
                                                       const Value& user_info) {
  std::optional<Bytes> payload = ipc::encode_request(message, user_info);
  if (!payload)
    return fail("the request cannot be encoded: its user info is not a dictionary", EINVAL);
  if (payload->size() > ipc::kMaxFrameLength)
    return fail("the request cannot be sent: it is larger than a frame may be", EINVAL);
  return exchange(*payload);
}

Result<Value> CPDistributedMessagingCenter::exchange(std::span<const std::uint8_t> payload) {
  std::lock_guard lock(mutex_);
  const int timeout_ms = ipc_timeout_ms();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  // A kept connection may have been closed by a server that restarted since the last request.
  if (socket_.valid() && !ipc::idle_connection_alive(socket_.get())) socket_ = FileDescriptor();
  const bool kept = socket_.valid();
  Status sent = send_request(payload, deadline);
  if (!sent && kept && peer_was_gone(sent.error().code)) sent = send_request(payload, deadline);
  if (!sent) return fail(explain(sent.error(), timeout_ms));
  Result<Value> reply = receive_reply(deadline);
  if (!reply) return fail(explain(reply.error(), timeout_ms));
  return reply;
}

Status CPDistributedMessagingCenter::send_request(std::span<const std::uint8_t> payload,
                                                  std::chrono::steady_clock::time_point deadline) {
  if (!socket_.valid()) {
    Result<FileDescriptor> connected = ipc::connect_unix(center_socket_path(name_));
    if (!connected) return fail(connected.error());
    socket_ = std::move(*connected);
  }
  Status written = ipc::write_frame(socket_.get(), payload, deadline);
  if (!written) socket_ = FileDescriptor();
  return written;
}

Result<Value> CPDistributedMessagingCenter::receive_reply(
    std::chrono::steady_clock::time_point deadline) {
  Bytes answer;
  if (!await_reply(socket_.get(), deadline)) {
    socket_ = FileDescriptor();
    return fail("no answer before the deadline, or the wait was given up", ETIMEDOUT);
  }
  Result<ipc::Arrival> arrival = ipc::read_frame(socket_.get(), answer, deadline);
  std::optional<Value> reply;
  if (arrival && *arrival == ipc::Arrival::Frame) reply = ipc::decode_reply(answer);
  if (reply) return std::move(*reply);
  socket_ = FileDescriptor();
  if (!arrival) return fail(arrival.error());
  if (*arrival == ipc::Arrival::ClosedClean)
    return fail("the service closed the connection without answering", ECONNRESET);
  return fail("the answer is not a reply dictionary in a property list", EPROTO);
}

Error CPDistributedMessagingCenter::explain(const Error& failure, int timeout_ms) const {
  switch (failure.code) {
    case ENOENT:
    case ECONNREFUSED:
      return {"not running: nothing answers at " + center_socket_path(name_).string(),
              failure.code};
    case EACCES:
    case EPERM:
      return {"refused: no permission to connect to " + center_socket_path(name_).string(), EACCES};
    case EPIPE:
    case ECONNRESET:
    case ENOTCONN:
      return {"refused: the service closed the connection without answering", ECONNRESET};
    case ETIMEDOUT:
      return {"timed out: no answer within " + std::to_string(timeout_ms) + " ms", ETIMEDOUT};
    case EPROTO:
    case EMSGSIZE:
      return {"malformed reply: " + failure.message, failure.code};
    default:
      return failure;
  }
}

void rocketbootstrap_distributedmessagingcenter_apply(
    const std::shared_ptr<CPDistributedMessagingCenter>& /*center*/) {}

}  // namespace orv
