#include "orvaned/job_file.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <system_error>

#include "orvaned/log.h"
#include "platform/fs/root.h"
#include "platform/plist/plist_file.h"

namespace orv::service {

namespace {

namespace fs = std::filesystem;

struct JobDirectory {
  const char* logical;
  int type;
};
constexpr JobDirectory kJobDirectories[] = {
    {"/System/Library/LaunchDaemons", kSystemJobType},
    {"/Library/LaunchDaemons", kOtherJobType},
};

std::optional<std::string> optional_string(const Value& v) {
  if (auto s = v.read_string()) return std::string(*s);
  return std::nullopt;
}

// ProgramArguments must be an array of strings; anything else makes the job unusable rather
// than silently running a different command line.
bool read_arguments(const Value& v, std::vector<std::string>& out) {
  const Array* array = v.if_array();
  if (!array) return false;
  for (const Value& item : *array) {
    const std::string* s = item.if_string();
    if (!s) return false;
    out.push_back(*s);
  }
  return true;
}

bool read_environment(const Value& v, std::vector<std::pair<std::string, std::string>>& out) {
  const Dictionary* dict = v.if_dictionary();
  if (!dict) return false;
  for (const auto& [key, value] : *dict) {
    const std::string* s = value.if_string();
    if (!s || key.empty() || key.find('=') != std::string::npos) return false;
    out.emplace_back(key, *s);
  }
  return true;
}

std::vector<fs::path> job_files_in(const fs::path& dir) {
  std::vector<fs::path> files;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path().extension() == ".plist") files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

Result<JobSpec> parse_job(const Value& root, std::string plist_path, int type) {
  if (!root.is_dictionary()) return fail("not a dictionary");
  JobSpec job;
  job.plist_path = std::move(plist_path);
  job.type = type;
  auto label = root["Label"].read_string();
  if (!label || label->empty()) return fail("no Label");
  job.label = std::string(*label);

  if (!root["Program"].is_null()) {
    job.program = optional_string(root["Program"]);
    if (!job.program || job.program->empty()) return fail("Program is not a path");
  }
  if (!root["ProgramArguments"].is_null()) {
    std::vector<std::string> args;
    if (!read_arguments(root["ProgramArguments"], args) || args.empty())
      return fail("ProgramArguments is not a list of strings");
    job.program_arguments = std::move(args);
  }
  if (!job.program && !job.program_arguments) return fail("neither Program nor ProgramArguments");

  job.run_at_load = root["RunAtLoad"].read_bool();
  const Value& keep_alive = root["KeepAlive"];
  if (keep_alive.is_boolean() || keep_alive.is_dictionary()) job.keep_alive = keep_alive;
  job.user_name = optional_string(root["UserName"]);
  job.working_directory = optional_string(root["WorkingDirectory"]);
  job.standard_out_path = optional_string(root["StandardOutPath"]);
  job.standard_error_path = optional_string(root["StandardErrorPath"]);
  if (!root["EnvironmentVariables"].is_null() &&
      !read_environment(root["EnvironmentVariables"], job.environment))
    return fail("EnvironmentVariables is not a dictionary of strings");
  return job;
}

std::vector<JobSpec> load_jobs() {
  std::vector<JobSpec> jobs;
  std::set<std::string> labels;
  for (const JobDirectory& dir : kJobDirectories) {
    auto group_begin = static_cast<std::ptrdiff_t>(jobs.size());
    for (const fs::path& file : job_files_in(real_path(dir.logical))) {
      std::string logical = std::string(dir.logical) + "/" + file.filename().string();
      Result<Value> root = read_plist_file(file);
      if (!root) {
        log_line("skipping " + logical + ": not a readable property list");
        continue;
      }
      Result<JobSpec> job = parse_job(*root, logical, dir.type);
      if (!job) {
        log_line("skipping " + logical + ": " + job.error().message);
        continue;
      }
      if (!labels.insert(job->label).second) {
        log_line("skipping " + logical + ": label " + job->label + " already defined");
        continue;
      }
      jobs.push_back(std::move(*job));
    }
    std::stable_sort(jobs.begin() + group_begin, jobs.end(),
                     [](const JobSpec& a, const JobSpec& b) { return a.label < b.label; });
  }
  return jobs;
}

}  // namespace orv::service
