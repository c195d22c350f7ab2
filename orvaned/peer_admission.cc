#include "orvaned/peer_admission.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>

namespace orv::service {

PeerAdmission::PeerAdmission(std::vector<uid_t> uids, std::vector<gid_t> gids)
    : own_uid_(::geteuid()), uids_(std::move(uids)), gids_(std::move(gids)) {}

bool PeerAdmission::admits(uid_t uid, gid_t gid) const {
  if (uid == 0 || uid == own_uid_) return true;
  if (std::find(uids_.begin(), uids_.end(), uid) != uids_.end()) return true;
  if (std::find(gids_.begin(), gids_.end(), gid) != gids_.end()) return true;
  return account_in_allowed_group(uid);
}

// SO_PEERCRED carries only the primary group, so membership is looked up in the account
// database; a uid without an account is a member of nothing.
bool PeerAdmission::account_in_allowed_group(uid_t uid) const {
  if (gids_.empty()) return false;
  struct passwd pw {};
  struct passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (::getpwuid_r(uid, &pw, buffer.data(), buffer.size(), &found) != 0 || !found) return false;
  int count = 64;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  while (::getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0) {
    groups.resize(static_cast<size_t>(count) + 64);
    count = static_cast<int>(groups.size());
  }
  groups.resize(static_cast<size_t>(count));
  return std::any_of(groups.begin(), groups.end(), [this](gid_t g) {
    return std::find(gids_.begin(), gids_.end(), g) != gids_.end();
  });
}

}  // namespace orv::service
