// Which local users may talk to the service: root, the service's own user, and the users and
// groups named on the command line (a group admits a peer whose primary group it is, or whose
// account is a member of it). The check runs on every connection, by the peer's credentials;
// the socket's file mode is chosen so that it lets through at least everyone the check admits.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace orv::service {

class PeerAdmission {
 public:
  PeerAdmission(std::vector<uid_t> uids, std::vector<gid_t> gids);

  // Whether the peer may talk to the service. A refusal is logged, at most once a minute per
  // uid so that a peer retrying in a loop cannot flood the log. Safe to call from any thread.
  bool admits(uid_t uid, gid_t gid);

  // The socket file's mode and group, letting through at least every peer the check admits:
  // with nobody named, 0660 and the service's own group; with one group alone, 0660 and that
  // group; with any user id, or several groups, which no single file group can express, 0666,
  // leaving the check alone to decide.
  struct SocketAccess {
    mode_t mode;
    gid_t group;  // (gid_t)-1: the service's own
  };
  SocketAccess socket_access() const;

 private:
  using Clock = std::chrono::steady_clock;

  bool allowed(uid_t uid, gid_t gid) const;
  bool account_in_allowed_group(uid_t uid) const;
  bool refusal_worth_logging(uid_t uid);

  uid_t own_uid_;
  std::vector<uid_t> uids_;
  std::vector<gid_t> gids_;
  std::mutex refusals_mutex_;
  std::unordered_map<uid_t, Clock::time_point> last_logged_refusal_;
};

}  // namespace orv::service
