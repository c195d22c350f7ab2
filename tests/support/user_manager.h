// A real systemd user manager of a test's own: started as root in a private mount namespace
// (a tmpfs on /run/systemd holding an empty /run/systemd/system, so it runs on any machine,
// booted with systemd or not), with a temporary HOME and XDG_RUNTIME_DIR and the given unit
// files in $HOME/.config/systemd/user. systemctl --user and orvaned reach it on its private
// socket. The manager takes the control groups below the caller's own, so one runs at a time.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/result.h"
#include "tests/host_process.h"

namespace orv::test {

class UserManager {
 public:
  using UnitFiles = std::vector<std::pair<std::string, std::string>>;  // name, contents
  using Env = std::vector<std::pair<std::string, std::string>>;

  // The running manager once it reports itself up, or why not; the error's code is EPERM
  // where this process may not make a mount namespace (not root, or a confined container).
  static Result<std::unique_ptr<UserManager>> start(const UnitFiles& units);
  // Asks the manager to exit (it stops its units) and waits for it; kills it after 10 s.
  ~UserManager();
  UserManager(const UserManager&) = delete;
  UserManager& operator=(const UserManager&) = delete;

  // The D-Bus address of the manager's private socket, "unix:path=...".
  std::string address() const;
  // HOME and XDG_RUNTIME_DIR, with which systemctl --user finds this manager.
  Env env() const;
  ProcessResult systemctl(std::vector<std::string> args) const;
  const std::filesystem::path& dir() const { return dir_; }

 private:
  explicit UserManager(std::filesystem::path dir) : dir_(std::move(dir)) {}
  Status run(const UnitFiles& units);
  std::filesystem::path runtime_dir() const { return dir_ / "xdg"; }
  std::filesystem::path home() const { return dir_ / "home"; }

  std::filesystem::path dir_;  // temporary: home, runtime directory and the manager's log
  pid_t pid_ = -1;
};

}  // namespace orv::test
