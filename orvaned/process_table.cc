#include "orvaned/process_table.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <memory>
#include <string>
#include <string_view>

#include "platform/fs/file_descriptor.h"

namespace orv::service {

namespace {

struct ProcessStat {
  char state = '?';
  pid_t group = -1;
  StartTime start_time = 0;
};

template <class Number>
std::optional<Number> number_at(std::string_view text, size_t& at) {
  while (at < text.size() && text[at] == ' ')
    ++at;
  Number value{};
  auto [end, ec] = std::from_chars(text.data() + at, text.data() + text.size(), value);
  if (ec != std::errc()) return std::nullopt;
  at = static_cast<size_t>(end - text.data());
  return value;
}

// Skips `count` space-separated fields.
void skip_fields(std::string_view text, size_t& at, int count) {
  for (int i = 0; i < count; ++i) {
    while (at < text.size() && text[at] == ' ')
      ++at;
    while (at < text.size() && text[at] != ' ')
      ++at;
  }
}

// /proc/<pid>/stat: "pid (comm) state ppid pgrp session ... starttime ...", where comm may hold
// spaces and parentheses, so the fields are counted from the last ')'.
std::optional<ProcessStat> read_stat(pid_t pid) {
  const std::string path = "/proc/" + std::to_string(pid) + "/stat";
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return std::nullopt;
  char buffer[1024];
  ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
  if (n <= 0) return std::nullopt;
  std::string_view text(buffer, static_cast<size_t>(n));
  size_t at = text.rfind(')');
  if (at == std::string_view::npos || at + 2 >= text.size()) return std::nullopt;
  ProcessStat stat;
  stat.state = text[at + 2];
  at += 3;
  skip_fields(text, at, 1);  // ppid
  auto group = number_at<pid_t>(text, at);
  skip_fields(text, at, 16);  // session .. itrealvalue
  auto start = number_at<StartTime>(text, at);
  if (!group || !start) return std::nullopt;
  stat.group = *group;
  stat.start_time = *start;
  return stat;
}

bool running(const ProcessStat& stat) {
  return stat.state != 'Z' && stat.state != 'X' && stat.state != 'x';
}

}  // namespace

std::optional<StartTime> start_time_of_running_process(pid_t pid) {
  if (pid <= 0) return std::nullopt;
  std::optional<ProcessStat> stat = read_stat(pid);
  if (!stat || !running(*stat)) return std::nullopt;
  return stat->start_time;
}

bool group_has_running_member(pid_t group) {
  if (group <= 0 || (::kill(-group, 0) != 0 && errno == ESRCH)) return false;
  std::unique_ptr<DIR, int (*)(DIR*)> proc(::opendir("/proc"), ::closedir);
  if (!proc) return true;  // the group exists; without /proc, assume a member runs
  while (const dirent* entry = ::readdir(proc.get())) {
    pid_t pid = 0;
    std::string_view name = entry->d_name;
    auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), pid);
    if (ec != std::errc() || end != name.data() + name.size()) continue;
    std::optional<ProcessStat> stat = read_stat(pid);
    if (stat && stat->group == group && running(*stat)) return true;
  }
  return false;
}

}  // namespace orv::service
