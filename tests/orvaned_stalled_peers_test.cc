// orvaned under a crowd of peers that connect and never finish a request: its memory stays
// bounded and a fresh client is still answered, also when it may open only a few descriptors.
#include <sys/resource.h>
#include <sys/socket.h>

#include <algorithm>

#include "platform/ipc/socket_io.h"
#include "tests/orvaned_fixture.h"

namespace orv::test {
namespace {

// The header of a frame of the largest allowed size, 16 MiB.
constexpr std::uint8_t kHeaderOfLargestFrame[] = {1, 0, 0, 0};

// Sets this process's soft descriptor limit for the scope; children started meanwhile inherit it.
struct ScopedFileLimit {
  explicit ScopedFileLimit(rlim_t soft) {
    ::getrlimit(RLIMIT_NOFILE, &saved);
    const rlimit wanted{std::min(soft, saved.rlim_max), saved.rlim_max};
    ::setrlimit(RLIMIT_NOFILE, &wanted);
  }
  ~ScopedFileLimit() { ::setrlimit(RLIMIT_NOFILE, &saved); }
  rlimit saved{};
};

class StalledPeersTest : public OrvanedTest {
 protected:
  // A connection that announced a frame and sent nothing of it (or nothing at all).
  void add_peer(bool send_header) {
    Result<FileDescriptor> peer = ipc::connect_unix(socket_path());
    ASSERT_TRUE(peer) << peer.error().message;
    if (send_header) {
      ASSERT_EQ(
          ::send(peer->get(), kHeaderOfLargestFrame, sizeof kHeaderOfLargestFrame, MSG_NOSIGNAL),
          4);
    }
    peers_.push_back(std::move(*peer));
  }
  bool fresh_client_answered() {
    CPDistributedMessagingCenter fresh{std::string(kControlServiceCenterName)};
    return !fresh.sendMessageAndReceiveReplyName("listAll").is_null();
  }

  ScopedEnv timeout_{"ORVANE_IPC_TIMEOUT_MS", "5000"};
  std::vector<FileDescriptor> peers_;
};

TEST_F(StalledPeersTest, AThousandAnnouncedFramesNeitherFillMemoryNorLockOutClients) {
  constexpr int kPeers = 1000;
  constexpr long kResidentLimitKib = 64 * 1024;
  ScopedFileLimit enough(kPeers + 100);
  if (enough.saved.rlim_max < kPeers + 100) GTEST_SKIP() << "the descriptor limit is too low";
  start_daemon();
  // A sanitized service starts larger and keeps freed buffers in quarantine; there the bound is
  // on what the peers add, and wider, still far below the 16 MiB per peer of a reserving server.
  const long limit_kib =
      kSanitized ? proc_status_kib(daemon_, "VmRSS") + 4 * kResidentLimitKib : kResidentLimitKib;
  // Checked as the crowd grows, so a server that reserves memory per frame is caught long
  // before it fills the machine.
  for (int batch = 0; batch < kPeers / 25; ++batch) {
    for (int i = 0; i < 25; ++i)
      add_peer(true);
    ASSERT_TRUE(fresh_client_answered()) << "with " << peers_.size() << " stalled peers";
    ASSERT_LT(proc_status_kib(daemon_, "VmRSS"), limit_kib) << "with " << peers_.size() << " peers";
  }
}

TEST_F(StalledPeersTest, AServiceShortOfDescriptorsKeepsAnswering) {
  {
    ScopedFileLimit few(64);  // inherited by the service
    start_daemon();
  }
  for (int i = 0; i < 100; ++i)
    add_peer(false);
  EXPECT_TRUE(fresh_client_answered());
}

}  // namespace
}  // namespace orv::test
