#include "host/service_trouble.h"

#include <cerrno>

#include "host/host_texts.h"
#include "platform/ipc/messaging_center.h"

namespace orv::host {

std::string trouble_words(const Error& error) {
  switch (error.code) {
    case ENOENT:
    case ECONNREFUSED:
      return std::string(tr("not running"));
    case EACCES:
    case ECONNRESET:  // how the service turns away a peer it does not admit
      return std::string(tr("refused"));
    case ETIMEDOUT:
      return std::string(tr("timed out"));
    case EPROTO:
    case EMSGSIZE:
      return std::string(tr("answered badly"));
    default:
      return error.message;
  }
}

std::optional<std::string> control_service_trouble() {
  auto center = CPDistributedMessagingCenter::centerNamed(kControlServiceCenterName);
  if (!center) return std::nullopt;
  auto failure = center->last_failure();
  if (!failure) return std::nullopt;
  return trouble_words(*failure);
}

}  // namespace orv::host
