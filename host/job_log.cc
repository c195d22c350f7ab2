#include "host/job_log.h"

#include <cstdio>
#include <ctime>

#include "host/service_trouble.h"
#include "host/text_grid.h"
#include "platform/ipc/messaging_center.h"
#include "platform/json/json.h"
#include "platform/value/value.h"

namespace orv::host {

namespace {

// The reply's status for a label the service does not know; any other failure means the
// service keeps no log for the job.
constexpr int kUnknownLabel = -2;

std::chrono::system_clock::time_point time_of(const Value& date) {
  const Date* d = date.if_date();
  const double unix_seconds = d ? d->seconds + Date::kUnixSecondsAtEpoch : 0;
  return std::chrono::system_clock::time_point(
      std::chrono::duration_cast<std::chrono::system_clock::duration>(
          std::chrono::duration<double>(unix_seconds)));
}

// The local time with milliseconds, in the strftime format given (which ends before them).
std::string local_time(std::chrono::system_clock::time_point time, const char* format,
                       bool with_offset) {
  const auto since = time.time_since_epoch();
  const std::time_t seconds = std::chrono::floor<std::chrono::seconds>(since).count();
  const auto millis = std::chrono::floor<std::chrono::milliseconds>(since).count() % 1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[64];
  std::size_t length = std::strftime(text, sizeof text, format, &local);
  length += static_cast<std::size_t>(std::snprintf(text + length, sizeof text - length, ".%03lld",
                                                   static_cast<long long>(millis)));
  if (with_offset) {
    char zone[8];
    std::strftime(zone, sizeof zone, "%z", &local);  // +0100
    std::snprintf(text + length, sizeof text - length, "%.3s:%.2s", zone, zone + 3);
  }
  return text;
}

// The log has a connection of its own: its requests (the web host's come from HTTP threads)
// neither wait behind the pages' nor leave their failures for the pages to report as theirs.
CPDistributedMessagingCenter& log_center() {
  static CPDistributedMessagingCenter center{std::string(kControlServiceCenterName)};
  return center;
}

}  // namespace

tl::expected<LogPage, LogFailure> fetch_log(std::string_view label, std::size_t lines,
                                            const std::string& after) {
  CPDistributedMessagingCenter& center = log_center();
  Dictionary query{{"Label", label}, {"lines", static_cast<std::int64_t>(lines)}};
  if (!after.empty()) query.set("after", after);
  const Value reply = center.sendMessageAndReceiveReplyName("log", Value(std::move(query)));
  if (reply.is_null()) {
    auto failure = center.last_failure();
    return tl::unexpected(
        LogFailure{LogTrouble::NoAnswer, failure ? trouble_words(*failure) : "no log request"});
  }
  const std::int32_t status = reply["status"].read_int32();
  if (status == kUnknownLabel) return tl::unexpected(LogFailure{LogTrouble::UnknownLabel, {}});
  if (status != 0) return tl::unexpected(LogFailure{LogTrouble::NoLog, {}});
  LogPage page;
  page.cursor = reply["cursor"].read_string().value_or("");
  for (const Value& entry : reply["entries"].as_array())
    page.lines.push_back({time_of(entry["time"]),
                          std::string(entry["stream"].read_string().value_or("")),
                          std::string(entry["text"].read_string().value_or(""))});
  return page;
}

std::string format_log_line(const LogLine& line) {
  std::string stream = printable(line.stream);
  stream.resize(std::max<std::size_t>(stream.size(), 7), ' ');
  return local_time(line.time, "%Y-%m-%d %H:%M:%S", false) + "  " + stream + "  " +
         printable(line.text);
}

std::string log_line_json(const LogLine& line) {
  auto json = [&line](std::string stream, std::string text) {
    return write_json(Value(Dictionary{{"time", local_time(line.time, "%Y-%m-%dT%H:%M:%S", true)},
                                       {"stream", std::move(stream)},
                                       {"text", std::move(text)}}));
  };
  // Text that is not UTF-8 (which the service never sends) goes out as it would be shown.
  if (auto text = json(line.stream, line.text)) return *text;
  return json(printable(line.stream), printable(line.text)).value_or("{}");
}

}  // namespace orv::host
