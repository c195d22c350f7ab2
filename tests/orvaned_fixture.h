// Runs the built orvaned as a real process on a temporary root, with a client for its center.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/ipc/messaging_center.h"
#include "platform/plist/plist_file.h"
#include "platform/value/value.h"
#include "tests/host_process.h"
#include "tests/support/test_support.h"

namespace orv::test {

inline bool process_exists(pid_t pid) {
  return pid > 0 && ::kill(pid, 0) == 0;
}

// The number of a field of /proc/PID/status ("VmRSS" and "VmHWM" in KiB, the real "Uid"), -1
// when unreadable.
inline long proc_status_number(pid_t pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if (line.starts_with(field + ":")) return std::stol(line.substr(field.size() + 1));
  return -1;
}

// Starts a program with its standard error on stderr_fd (-1: this process's). The argument
// vector is made before the fork: the child only calls what is safe after one.
inline pid_t spawn(std::vector<std::string> args, int stderr_fd = -1) {
  std::vector<char*> argv;
  for (auto& a : args)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = ::fork();
  if (pid == 0) {
    if (stderr_fd >= 0) ::dup2(stderr_fd, STDERR_FILENO);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return pid;
}

// SIGTERM, then the exit status (-1 when it did not exit normally).
inline int end_process(pid_t& pid) {
  if (pid <= 0) return -1;
  ::kill(pid, SIGTERM);
  int status = 0;
  ::waitpid(pid, &status, 0);
  pid = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class OrvanedTest : public ::testing::Test {
 protected:
  OrvanedTest() { ::setenv("ORVANE_RUNTIME_DIR", run_dir().c_str(), 1); }
  ~OrvanedTest() override {
    terminate_daemon();
    ::unsetenv("ORVANE_RUNTIME_DIR");
  }

  std::filesystem::path run_dir() const { return root_.path() / "run"; }
  std::filesystem::path socket_path() const { return run_dir() / "msgport.orvane.sock"; }

  static constexpr std::string_view kSystemJobs = "/System/Library/LaunchDaemons";
  // A job file named after the label, in the other jobs' directory unless given another.
  void write_job(const std::string& label, Dictionary job,
                 std::string_view logical_dir = "/Library/LaunchDaemons") {
    if (!job.contains("Label")) job.set("Label", label);
    write_xml_plist(root_.real(logical_dir) / (label + ".plist"), Value(std::move(job)));
  }
  void write_other_job(const std::string& label, Dictionary job) { write_job(label, job); }
  static Array sleeper() { return Array{"/bin/sleep", "100000"}; }

  void start_daemon(std::vector<std::string> extra = {}, int stderr_fd = -1) {
    std::vector<std::string> args = {ORVANE_BINARY_DIR "/bin/orvaned", "--root", root_.path()};
    args.insert(args.end(),
                {"--runtime-dir", run_dir(), "--throttle", "0.5", "--stop-timeout", "1"});
    args.insert(args.end(), extra.begin(), extra.end());
    daemon_ = spawn(std::move(args), stderr_fd);
    // The socket file appears at bind time, before its mode is set and before it listens, so
    // wait for an answer rather than for the file.
    ASSERT_TRUE(eventually([&] { return !send("listAll").is_null(); }))
        << "orvaned did not answer on its socket";
  }

  // A program of its own under the root (a link to sleep), so its processes can be counted.
  std::string sleeper_named(const std::string& name) {
    auto path = root_.path() / name;
    std::filesystem::create_symlink("/bin/sleep", path);
    return path;
  }
  // Processes running the program (zombies have no command line, so they are not counted).
  static int processes_running(const std::string& program) {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
      std::ifstream cmdline(entry.path() / "cmdline");
      std::string argv0;
      if (std::getline(cmdline, argv0, '\0') && argv0 == program) ++count;
    }
    return count;
  }

  int terminate_daemon() { return end_process(daemon_); }

  // The real host on this root (its test links host_process.cc).
  ProcessResult orvane(std::vector<std::string> args) {
    args.insert(args.begin(), ORVANE_BINARY_DIR "/bin/orvane");
    return run_process(args, {{"ORVANE_ROOT", root_.path().string()}}, 40);
  }

  Value send(std::string_view message, const Value& info = Value()) {
    return client_.sendMessageAndReceiveReplyName(message, info);
  }
  Array list_all() { return send("listAll")["data"].as_array(); }
  Value record(const std::string& label) {
    for (const Value& r : list_all())
      if (r["Label"] == Value(label)) return r;
    return Value();
  }
  std::int32_t pid_of(const std::string& label) { return record(label)["Pid"].read_int32(); }
  std::int32_t start_one(const std::string& label, bool start) {
    Value reply = send("startOne", Dictionary{{"Label", label}, {"isStart", start}, {"flag", 0}});
    return reply.is_null() ? -1000 : reply["status"].read_int32();
  }

  Value read_log(const std::string& label, Dictionary query = {}) {
    query.set("Label", label);
    return send("log", Value(std::move(query)));
  }
  // "stream text" for each entry of a log reply.
  static std::vector<std::string> log_lines(const Value& reply) {
    std::vector<std::string> out;
    for (const Value& entry : reply["entries"].as_array())
      out.push_back(std::string(entry["stream"].as_string()) + " " + entry["text"].as_string());
    return out;
  }

  TempDir root_;
  CPDistributedMessagingCenter client_{"msgport.orvane"};
  pid_t daemon_ = -1;
};

}  // namespace orv::test
