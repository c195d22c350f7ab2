// The messaging center through real Unix sockets: what crosses the wire, byte for byte as any
// peer sees it, how the client turns every kind of failure into a null reply and says why, and
// how the server holds up against peers that stall.
#include <gmock/gmock.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>  // mknod
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <thread>

#include "platform/ipc/frame.h"
#include "platform/ipc/messaging_center.h"
#include "platform/ipc/socket_io.h"
#include "platform/plist/binary_plist.h"
#include "tests/support/test_support.h"

namespace orv {
namespace {

using namespace std::chrono_literals;

using test::ScopedEnv;

Bytes frame_of(std::uint32_t announced, Bytes payload) {
  std::uint8_t header[ipc::kFrameHeaderSize];
  ipc::put_frame_length(announced, header);
  payload.insert(payload.begin(), header, header + ipc::kFrameHeaderSize);
  return payload;
}

Bytes plist_frame(const Value& root) {
  Bytes payload = *encode_binary_plist(root);
  return frame_of(static_cast<std::uint32_t>(payload.size()), payload);
}

void send_bytes(int fd, const Bytes& bytes) {
  ASSERT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL),
            static_cast<ssize_t>(bytes.size()));
}

// Waits, within a bound, for the other end to close the connection.
bool closed_by_peer(int fd) {
  pollfd ready{fd, POLLIN, 0};
  char byte;
  return ::poll(&ready, 1, 5000) == 1 && ::recv(fd, &byte, 1, MSG_DONTWAIT) == 0;
}

TEST(FrameTest, TheLargestAllowedFrameCrossesWholeAndOneByteMoreIsRefused) {
  int fds[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
  const FileDescriptor ours(fds[0]), theirs(fds[1]);
  const Bytes largest(ipc::kMaxFrameLength, 0x5A);
  Status sent = fail("not sent");
  // Either side giving up shuts the pair down, so the other cannot wait for ever.
  std::thread writer([&] {
    sent = ipc::write_frame(ours.get(), largest, std::nullopt);
    if (!sent) ::shutdown(ours.get(), SHUT_RDWR);
  });
  Bytes received;
  const Result<ipc::Arrival> arrival = ipc::read_frame(theirs.get(), received, std::nullopt);
  if (!arrival) ::shutdown(theirs.get(), SHUT_RDWR);
  writer.join();
  EXPECT_TRUE(sent.has_value());
  EXPECT_TRUE(arrival && *arrival == ipc::Arrival::Frame && received == largest);

  const Bytes one_more(ipc::kMaxFrameLength + 1);
  EXPECT_EQ(ipc::write_frame(ours.get(), one_more, std::nullopt).error().code, EMSGSIZE);
  send_bytes(ours.get(), frame_of(ipc::kMaxFrameLength + 1, {}));
  EXPECT_EQ(ipc::read_frame(theirs.get(), received, std::nullopt).error().code, EMSGSIZE);
}

class MessagingCenterTest : public ::testing::Test {
 protected:
  test::TempDir dir_;
  ScopedEnv runtime_{"ORVANE_RUNTIME_DIR", dir_.path().c_str()};
  std::filesystem::path socket_ = center_socket_path("test.center");
  CPDistributedMessagingCenter client_{"test.center"};
};

TEST_F(MessagingCenterTest, RequestsArriveUnchangedAndRepliesComeBack) {
  MessagingCenterServer server(socket_);
  int calls = 0;
  server.register_handler("echo", [&](const Value& info) -> std::optional<Value> {
    ++calls;
    return Value(Dictionary{{"got", info.is_null() ? Value("none") : info}, {"status", -1}});
  });
  server.register_handler("silent", [](const Value&) { return std::nullopt; });
  ASSERT_TRUE(server.start());

  const Value info(Dictionary{{"isStart", false}, {"flag", 0}, {"Label", "x"}});
  EXPECT_EQ(client_.sendMessageAndReceiveReplyName("echo", info),
            Value(Dictionary{{"got", info}, {"status", -1}}));
  EXPECT_EQ(client_.sendMessageAndReceiveReplyName("echo")["got"], Value("none"))
      << "no user info must arrive as no key, not an empty dict";

  // "No reply" and unknown messages give null, and the connection stays usable. They are
  // answers, not failures.
  EXPECT_TRUE(client_.sendMessageAndReceiveReplyName("silent").is_null());
  EXPECT_TRUE(client_.sendMessageAndReceiveReplyName("nobody.listens").is_null());
  EXPECT_EQ(client_.last_failure(), std::nullopt);
  EXPECT_TRUE(client_.sendMessageAndReceiveReplyName("echo", Value(3)).is_null());
  EXPECT_EQ(client_.last_failure()->code, EINVAL);
  EXPECT_TRUE(client_.sendMessageAndReceiveReplyName("echo").is_dictionary());
  EXPECT_EQ(client_.last_failure(), std::nullopt);

  // The frames as a peer written in another language sees them, with the length spelled out.
  Result<FileDescriptor> raw = ipc::connect_unix(socket_);
  ASSERT_TRUE(raw);
  auto exchange = [&](const Value& root) {
    const Bytes payload = *encode_binary_plist(root);
    Bytes frame = {0, 0, static_cast<std::uint8_t>(payload.size() >> 8),
                   static_cast<std::uint8_t>(payload.size())};
    frame.insert(frame.end(), payload.begin(), payload.end());
    send_bytes(raw->get(), frame);
    Bytes reply;
    EXPECT_EQ(ipc::read_frame(raw->get(), reply, std::nullopt), ipc::Arrival::Frame);
    return decode_binary_plist(reply).value_or(Value("undecodable"));
  };
  EXPECT_EQ(
      exchange(Dictionary{{"name", "echo"}, {"userInfo", Dictionary{{"k", 1}}}}),
      Value(Dictionary{{"reply", Dictionary{{"got", Dictionary{{"k", 1}}}, {"status", -1}}}}));
  EXPECT_EQ(exchange(Dictionary{{"name", "silent"}}), Value(Dictionary{}));
  // The server never hands a handler user info that is not a dictionary: it ends the connection.
  send_bytes(raw->get(), plist_frame(Dictionary{{"name", "echo"}, {"userInfo", 3}}));
  EXPECT_TRUE(closed_by_peer(raw->get()));
  EXPECT_EQ(calls, 4);
}

TEST_F(MessagingCenterTest, MissingOrSlowServiceGivesNullAndLateRepliesAreNeverReused) {
  EXPECT_TRUE(client_.sendMessageAndReceiveReplyName("echo").is_null());
  EXPECT_EQ(client_.last_failure()->code, ENOENT);
  EXPECT_THAT(client_.last_failure()->message, ::testing::StartsWith("not running"));

  MessagingCenterServer server(socket_);
  std::atomic<int> calls{0};
  server.register_handler("count", [&](const Value&) -> std::optional<Value> {
    const int n = ++calls;
    if (n == 1) std::this_thread::sleep_for(600ms);
    return Value(Dictionary{{"n", n}});
  });
  ASSERT_TRUE(server.start());
  {
    ScopedEnv timeout("ORVANE_IPC_TIMEOUT_MS", "200");
    EXPECT_TRUE(client_.sendMessageAndReceiveReplyName("count").is_null());
    EXPECT_EQ(client_.last_failure()->code, ETIMEDOUT);
  }
  // The first reply arrives late, on the dropped connection; the next request gets its own.
  EXPECT_EQ(client_.sendMessageAndReceiveReplyName("count")["n"], Value(2));
}

TEST_F(MessagingCenterTest, GarbageFromThePeerGivesNull) {
  ScopedEnv timeout("ORVANE_IPC_TIMEOUT_MS", "5000");
  const Bytes answers[] = {
      {'j', 'u', 'n', 'k', '!', '!'},  // over-long: refused before allocation
      frame_of(0, {}),
      frame_of(12, {'n', 'o', 't', ' ', 'a', ' ', 'p', 'l', 'i', 's', 't', '!'}),
      frame_of(100, {'b', 'p'}),            // peer closes inside the frame
      plist_frame(Value(Array{Value(1)})),  // root not a dictionary
      plist_frame(Value(Dictionary{{"reply", "text"}})),
  };
  for (const Bytes& answer : answers) {
    // A service that speaks garbage: it answers the request with raw bytes, then closes.
    const FileDescriptor listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const Result<sockaddr_un> address = ipc::unix_socket_address(socket_);
    ASSERT_EQ(
        ::bind(listener.get(), reinterpret_cast<const sockaddr*>(&*address), sizeof(*address)), 0);
    ASSERT_EQ(::listen(listener.get(), 1), 0);
    auto reply = std::async(std::launch::async,
                            [&] { return client_.sendMessageAndReceiveReplyName("listAll"); });
    const FileDescriptor peer(::accept(listener.get(), nullptr, nullptr));
    Bytes request;
    EXPECT_EQ(ipc::read_frame(peer.get(), request, std::nullopt), ipc::Arrival::Frame);
    send_bytes(peer.get(), answer);
    ::shutdown(peer.get(), SHUT_WR);
    EXPECT_TRUE(reply.get().is_null());
    EXPECT_THAT(client_.last_failure()->code, ::testing::AnyOf(EPROTO, EMSGSIZE));
    std::filesystem::remove(socket_);
  }
}

// Who is admitted is checked on the service, which sets the filter from its options.
TEST_F(MessagingCenterTest, ServerSocketLifecycle) {
  auto answer_with = [](int generation) {
    return [generation](const Value&) -> std::optional<Value> {
      return Value(Dictionary{{"generation", generation}});
    };
  };
  {
    MessagingCenterServer first(socket_);
    first.register_handler("who", answer_with(1));
    ASSERT_TRUE(first.start());
    EXPECT_EQ(client_.sendMessageAndReceiveReplyName("who")["generation"], Value(1));
  }
  EXPECT_FALSE(std::filesystem::exists(socket_));

  // A stale socket file is replaced; a regular file is never removed. The client, whose kept
  // connection died with its server, reaches the new one.
  ASSERT_EQ(::mknod(socket_.c_str(), S_IFSOCK | 0600, 0), 0);
  MessagingCenterServer second(socket_);
  second.register_handler("who", answer_with(2));
  ASSERT_TRUE(second.start());
  EXPECT_EQ(client_.sendMessageAndReceiveReplyName("who")["generation"], Value(2));
  second.stop();

  test::write_file(socket_, "precious");
  MessagingCenterServer blocked(socket_);
  EXPECT_FALSE(blocked.start());
  EXPECT_EQ(test::read_file(socket_), "precious");
}

TEST_F(MessagingCenterTest, IdlePeersGiveWayAtTheLimitAndStalledFramesTimeOut) {
  std::mutex lines_mutex;
  std::vector<std::string> lines;
  MessagingCenterServer server(socket_, {.max_connections = 2, .frame_timeout = 300ms});
  server.set_log([&](std::string_view line) {
    std::lock_guard lock(lines_mutex);
    lines.emplace_back(line);
  });
  server.register_handler("ping", [](const Value&) { return Value(Dictionary{}); });
  ASSERT_TRUE(server.start());
  Result<FileDescriptor> first = ipc::connect_unix(socket_);
  Result<FileDescriptor> second = ipc::connect_unix(socket_);
  ASSERT_TRUE(first && second);

  // At the limit, a fresh client takes the place of the connection idle longest.
  EXPECT_TRUE(client_.sendMessageAndReceiveReplyName("ping").is_dictionary());
  EXPECT_TRUE(closed_by_peer(first->get()));
  // A frame announced and never sent ends its connection at the frame time-out.
  send_bytes(second->get(), frame_of(1, {}));
  EXPECT_TRUE(closed_by_peer(second->get()));

  server.stop();
  EXPECT_THAT(lines, ::testing::Contains(::testing::HasSubstr("limit of 2 connections")));
  EXPECT_THAT(lines, ::testing::Contains(::testing::HasSubstr("in time")));
}

}  // namespace
}  // namespace orv
