#include "orvaned/job_ledger.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <string_view>

namespace orv::service {

namespace {

constexpr size_t kHeaderSize = 64;
constexpr size_t kRecordSize = 32;  // "%10d %20llu\n"
// Far beyond any job count; a larger file is read only up to here.
constexpr size_t kMaxRecords = 1 << 15;

// The header names this boot; without a boot id no header matches, so no record is trusted.
std::string header_for_this_boot() {
  FileDescriptor fd(::open("/proc/sys/kernel/random/boot_id", O_RDONLY | O_CLOEXEC));
  char id[64] = {};
  ssize_t n = fd.valid() ? ::read(fd.get(), id, sizeof id - 1) : -1;
  std::string header = "orvaned-jobs ";
  if (n > 0) header.append(id, static_cast<size_t>(n));
  while (!header.empty() && header.back() == '\n')
    header.pop_back();
  if (n <= 0) header += "(no boot id)";
  header.resize(kHeaderSize - 1, ' ');
  header.push_back('\n');
  return header;
}

std::string format_record(pid_t pid, StartTime start_time) {
  char line[kRecordSize + 1];
  std::snprintf(line, sizeof line, "%10d %20llu\n", static_cast<int>(pid),
                static_cast<unsigned long long>(start_time));
  return std::string(line, kRecordSize);
}

template <class Number>
std::optional<Number> parse_field(std::string_view field) {
  while (!field.empty() && field.front() == ' ')
    field.remove_prefix(1);
  Number value{};
  auto [end, ec] = std::from_chars(field.data(), field.data() + field.size(), value);
  if (ec != std::errc() || end != field.data() + field.size()) return std::nullopt;
  return value;
}

std::string read_up_to(int fd, size_t limit) {
  std::string content(limit, '\0');
  size_t size = 0;
  while (size < limit) {
    ssize_t n = ::pread(fd, content.data() + size, limit - size, static_cast<off_t>(size));
    if (n <= 0) break;
    size += static_cast<size_t>(n);
  }
  content.resize(size);
  return content;
}

Status check_is_ours(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return fail_errno("fstat");
  if (!S_ISREG(st.st_mode)) return fail("not a regular file");
  if (st.st_uid != ::geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH)))
    return fail("writable by another user than this service's");
  return {};
}

}  // namespace

Result<JobLedger> JobLedger::open(const std::filesystem::path& file) {
  FileDescriptor fd(
      ::open(file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
  if (!fd.valid()) return fail_errno(file.string());
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK)
      return fail("another orvaned runs on " + file.parent_path().string(), errno);
    return fail_errno(file.string());
  }
  if (Status ours = check_is_ours(fd.get()); !ours)
    return fail(file.string() + ": " + ours.error().message);

  JobLedger ledger(std::move(fd), header_for_this_boot());
  const std::string content = read_up_to(ledger.fd_.get(), kHeaderSize + kMaxRecords * kRecordSize);
  if (!content.starts_with(ledger.header_)) return ledger;
  for (size_t at = kHeaderSize; at + kRecordSize <= content.size(); at += kRecordSize) {
    std::string_view record = std::string_view(content).substr(at, kRecordSize - 1);
    auto pid = parse_field<pid_t>(record.substr(0, 10));
    auto start_time = parse_field<StartTime>(record.substr(11));
    if (!pid || !start_time || *pid <= 0) continue;
    if (start_time_of_running_process(*pid) != *start_time) continue;
    ledger.entries_.push_back({*pid, *start_time});
    ledger.leftovers_.push_back({*pid, *start_time});
  }
  return ledger;
}

Status JobLedger::record(pid_t pid) {
  std::optional<StartTime> start_time = start_time_of_running_process(pid);
  if (!start_time) return fail("process " + std::to_string(pid) + " ended before it ran");
  entries_.push_back({pid, *start_time});
  Status written = rewrite();
  if (!written) entries_.pop_back();
  return written;
}

Status JobLedger::forget(pid_t pid) {
  auto same_pid = [pid](const Entry& entry) { return entry.pid == pid; };
  std::erase_if(leftovers_, same_pid);
  if (std::erase_if(entries_, same_pid) == 0) return {};
  return rewrite();
}

Status JobLedger::rewrite() {
  std::string content = header_;
  for (const Entry& entry : entries_)
    content += format_record(entry.pid, entry.start_time);
  // Written over the old content before the file is cut to size: a kill in between leaves the
  // new records followed by whole old ones.
  size_t done = 0;
  while (done < content.size()) {
    ssize_t n =
        ::pwrite(fd_.get(), content.data() + done, content.size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return fail_errno("writing the job ledger");
    done += static_cast<size_t>(n);
  }
  if (::ftruncate(fd_.get(), static_cast<off_t>(content.size())) != 0)
    return fail_errno("writing the job ledger");
  return {};
}

}  // namespace orv::service
