#include "orvaned/request_handlers.h"

#include "orvaned/export_file.h"

namespace orv::service {

namespace {

Value status_reply(int status) {
  return Value(Dictionary{{"status", status}});
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

void register_request_handlers(MessagingCenterServer& server, JobBackend& backend) {
  server.register_handler("listAll", [&backend](const Value&) -> std::optional<Value> {
    return handle_list_all(backend);
  });
  server.register_handler("startOne", [&backend](const Value& request) -> std::optional<Value> {
    return handle_start_one(backend, request);
  });
  server.register_handler("export", [](const Value& request) -> std::optional<Value> {
    return handle_export(request);
  });
}

}  // namespace orv::service
