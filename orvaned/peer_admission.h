// Which local users may talk to the service: root, the service's own user, and the users and
// groups named on the command line (a group admits a peer whose primary group it is, or whose
// account is a member of it).
#pragma once

#include <sys/types.h>

#include <vector>

namespace orv::service {

class PeerAdmission {
 public:
  PeerAdmission(std::vector<uid_t> uids, std::vector<gid_t> gids);
  bool admits(uid_t uid, gid_t gid) const;

 private:
  bool account_in_allowed_group(uid_t uid) const;

  uid_t own_uid_;
  std::vector<uid_t> uids_;
  std::vector<gid_t> gids_;
};

}  // namespace orv::service
