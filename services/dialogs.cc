#include "services/dialogs.h"

#include <memory>

#include "platform/runloop/run_loop.h"
#include "platform/ui/user_notification.h"

namespace {

constexpr orv::CFOptionFlags kPlainAlert = orv::kCFUserNotificationPlainAlertLevel;
constexpr const char* kOkTitle = "OK";
constexpr const char* kCancelTitle = "CANCEL";

struct NotificationRelease {
  void operator()(orv::UserNotification* n) const { orv::CFRelease(n); }
};
using NotificationHolder = std::unique_ptr<orv::UserNotification, NotificationRelease>;

void display_alert(const std::string& message, const std::string& header, std::int32_t timeout,
                   bool with_cancel, const std::function<void(bool)>& completion) {
  // Starts as "cancelled" so that an alert that could not be shown never reads as "OK".
  orv::CFOptionFlags response = orv::kCFUserNotificationCancelResponse;
  orv::SInt32 shown = orv::CFUserNotificationDisplayAlert(
      static_cast<orv::CFTimeInterval>(timeout), kPlainAlert, orv::Value(), orv::Value(),
      orv::Value(), orv::Value(header), orv::Value(message), orv::Value(kOkTitle),
      with_cancel ? orv::Value(kCancelTitle) : orv::Value(), orv::Value(),
      with_cancel ? &response : nullptr);
  if (with_cancel && completion) completion(shown == 0 && response == 0);
}

}  // namespace

extern "C" void alert(const std::string& message, const std::string& header, std::int32_t timeout,
                      bool with_cancel, const std::function<void(bool)>& completion) {
  if (orv::isMainThread()) {
    display_alert(message, header, timeout, with_cancel, completion);
    return;
  }
  orv::RunLoop::main().dispatch_sync(
      [&] { display_alert(message, header, timeout, with_cancel, completion); });
}

extern "C" void prompt(const std::string& header, const std::string& message,
                       const std::string& field_title,
                       const std::function<void(const orv::Value& text)>& completion) {
  orv::Dictionary dictionary{
      {orv::kCFUserNotificationAlertHeaderKey, orv::Value(header)},
      {orv::kCFUserNotificationAlertMessageKey, orv::Value(message)},
      {orv::kCFUserNotificationTextFieldTitlesKey, orv::Value(field_title)},
      {orv::kCFUserNotificationAlternateButtonTitleKey, orv::Value(kCancelTitle)},
  };
  NotificationHolder notification(
      orv::CFUserNotificationCreate(orv::kCFAllocatorDefault, 0, kPlainAlert, nullptr, dictionary));
  if (!notification) return;
  orv::CFOptionFlags response = orv::kCFUserNotificationCancelResponse;
  if (orv::CFUserNotificationReceiveResponse(notification.get(), 0, &response) != 0) return;
  if ((response & 3) != 0 || !completion) return;
  completion(orv::CFUserNotificationGetResponseValue(
      notification.get(), orv::kCFUserNotificationTextFieldValuesKey, 0));
}
