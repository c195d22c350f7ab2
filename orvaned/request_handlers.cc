#include "orvaned/request_handlers.h"

#include <algorithm>

#include "orvaned/export_file.h"

namespace orv::service {

namespace {

Value status_reply(int status) {
  return Value(Dictionary{{"status", status}});
}

Value date_of(std::chrono::system_clock::time_point time) {
  const std::chrono::duration<double> since_unix = time.time_since_epoch();
  return Value(Date{since_unix.count() - Date::kUnixSecondsAtEpoch});
}

const char* stream_name(LogStream stream) {
  switch (stream) {
    case LogStream::Out:
      return "out";
    case LogStream::Err:
      return "err";
    case LogStream::Service:
      break;
  }
  return "service";
}

LogQuery log_query(const Value& request) {
  LogQuery query;
  query.label = std::string(request["Label"].read_string().value_or(""));
  if (const Integer* lines = request["lines"].if_integer(); lines && lines->bits > 0)
    query.lines = lines->is_unsigned ? LogQuery::kMaxLines
                                     : std::min<std::size_t>(static_cast<std::size_t>(lines->bits),
                                                             LogQuery::kMaxLines);
  if (auto after = request["after"].read_string()) query.after = std::string(*after);
  return query;
}

}  // namespace

Value handle_list_all(const JobBackend& backend) {
  return Value(Dictionary{{"data", backend.records()}});
}

// "flag" carries no meaning for this service; any value is accepted and ignored.
Value handle_start_one(JobBackend& backend, const Value& request) {
  std::optional<std::string_view> label = request["Label"].read_string();
  if (!label) return status_reply(static_cast<int>(StartOneStatus::MissingLabel));
  bool start = request["isStart"].read_bool();
  JobStatus status = start ? backend.start_job(*label) : backend.stop_job(*label);
  return status_reply(static_cast<int>(status));
}

// A missing path is refused like any other path outside the media directory.
Value handle_export(const Value& request) {
  std::optional<std::string_view> path = request["path"].read_string();
  return status_reply(static_cast<int>(write_export_file(path.value_or(""), request["data"])));
}

Value handle_log(const JobBackend& backend, const Value& request) {
  const LogPage page = backend.read_log(log_query(request));
  Array entries;
  entries.reserve(page.entries.size());
  for (const LogEntry& entry : page.entries)
    entries.push_back(Value(Dictionary{{"time", date_of(entry.time)},
                                       {"stream", stream_name(entry.stream)},
                                       {"text", entry.text}}));
  return Value(Dictionary{{"status", static_cast<int>(page.status)},
                          {"entries", std::move(entries)},
                          {"cursor", page.cursor}});
}

void register_request_handlers(MessagingCenterServer& server, JobBackend& backend) {
  server.register_handler("listAll", [&backend](const Value&) -> std::optional<Value> {
    return handle_list_all(backend);
  });
  server.register_handler("startOne", [&backend](const Value& request) -> std::optional<Value> {
    return handle_start_one(backend, request);
  });
  server.register_handler("log", [&backend](const Value& request) -> std::optional<Value> {
    return handle_log(backend, request);
  });
  server.register_handler("export", [](const Value& request) -> std::optional<Value> {
    return handle_export(request);
  });
}

}  // namespace orv::service
