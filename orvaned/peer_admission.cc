#include "orvaned/peer_admission.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "orvaned/log.h"

namespace orv::service {

namespace {

constexpr std::chrono::minutes kRefusalLogInterval{1};
// Refusals remembered before expired ones are dropped; uids come from real accounts, so the
// table stays small, but nothing lets it grow without bound.
constexpr std::size_t kRefusalsRemembered = 1024;

}  // namespace

PeerAdmission::PeerAdmission(std::vector<uid_t> uids, std::vector<gid_t> gids)
    : own_uid_(::geteuid()), uids_(std::move(uids)), gids_(std::move(gids)) {}

bool PeerAdmission::allowed(uid_t uid, gid_t gid) const {
  if (uid == 0 || uid == own_uid_) return true;
  if (std::find(uids_.begin(), uids_.end(), uid) != uids_.end()) return true;
  if (std::find(gids_.begin(), gids_.end(), gid) != gids_.end()) return true;
  return account_in_allowed_group(uid);
}

bool PeerAdmission::admits(uid_t uid, gid_t gid) {
  if (allowed(uid, gid)) return true;
  if (refusal_worth_logging(uid))
    log_line("refused a connection from uid " + std::to_string(uid) + " (gid " +
             std::to_string(gid) + "); further refusals of this uid are not logged for a minute");
  return false;
}

bool PeerAdmission::refusal_worth_logging(uid_t uid) {
  const Clock::time_point now = Clock::now();
  std::lock_guard lock(refusals_mutex_);
  if (last_logged_refusal_.size() >= kRefusalsRemembered)
    std::erase_if(last_logged_refusal_,
                  [&](const auto& entry) { return now - entry.second >= kRefusalLogInterval; });
  auto [entry, inserted] = last_logged_refusal_.try_emplace(uid, now);
  if (inserted) return true;
  if (now - entry->second < kRefusalLogInterval) return false;
  entry->second = now;
  return true;
}

PeerAdmission::SocketAccess PeerAdmission::socket_access() const {
  constexpr gid_t kOwnGroup = static_cast<gid_t>(-1);
  if (uids_.empty() && gids_.empty()) return {0660, kOwnGroup};
  if (uids_.empty() && gids_.size() == 1) return {0660, gids_.front()};
  return {0666, kOwnGroup};
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
