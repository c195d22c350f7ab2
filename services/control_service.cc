#include "services/control_service.h"

namespace {

// The process-wide client. All callers are on the main thread, so no lock guards it.
std::shared_ptr<orv::CPDistributedMessagingCenter> _center;

}  // namespace

std::shared_ptr<orv::CPDistributedMessagingCenter> get_ipc() {
  if (!_center) {
    _center = orv::CPDistributedMessagingCenter::centerNamed(orv::kControlServiceCenterName);
    if (_center) rocketbootstrap_distributedmessagingcenter_apply(_center);
  }
  return _center;
}

orv::Value getAllDaemons() {
  std::shared_ptr<orv::CPDistributedMessagingCenter> center = get_ipc();
  if (!center) return orv::Value();
  const orv::Value reply = center->sendMessageAndReceiveReplyName("listAll");
  const orv::Value& data = reply["data"];
  // Pages iterate the result as records; anything but an array would mislead them.
  return data.is_array() ? data : orv::Value();
}

orv::Dictionary make_start_one_request(const orv::Value& record, bool is_start) {
  orv::Dictionary request;
  request.reserve(4);
  // A label or path of another kind is left out rather than forwarded: the service expects
  // strings, and a request without them fails there instead of acting on a wrong job.
  if (std::optional<std::string_view> label = record["Label"].read_string())
    request.set("Label", orv::Value(*label));
  request.set("isStart", orv::Value(is_start));
  request.set("flag", orv::Value(0));
  if (std::optional<std::string_view> plist = record["Plist"].read_string())
    request.set("Plist", orv::Value(*plist));
  return request;
}

orv::Dictionary make_export_request(const std::string& path, const orv::Value& table) {
  orv::Dictionary request;
  request.set("path", orv::Value(path));
  request.set("data", table);
  return request;
}

bool reply_succeeded(const orv::Value& reply) {
  return reply.is_dictionary() && reply["status"].read_int32() >= 0;
}

bool send_start_one(orv::CPDistributedMessagingCenter& center, const orv::Value& record,
                    bool is_start) {
  return reply_succeeded(center.sendMessageAndReceiveReplyName(
      "startOne", orv::Value(make_start_one_request(record, is_start))));
}

bool send_export(orv::CPDistributedMessagingCenter& center, const std::string& path,
                 const orv::Value& table) {
  return reply_succeeded(center.sendMessageAndReceiveReplyName(
      "export", orv::Value(make_export_request(path, table))));
}
