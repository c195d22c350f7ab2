#include "platform/ui/user_notification.h"

#include <cmath>
#include <mutex>

namespace orv {

struct UserNotification {
  DialogRequest request;
  std::optional<DialogResponse> response;
};

namespace {

std::mutex g_presenter_mutex;
std::shared_ptr<DialogPresenter> g_presenter;

std::optional<std::string> optional_string(const Value& v) {
  auto s = v.read_string();
  return s ? std::optional<std::string>(std::string(*s)) : std::nullopt;
}

// A negative or non-finite time-out means the dialog never closes by itself.
CFTimeInterval sane_timeout(CFTimeInterval t) {
  return std::isfinite(t) && t > 0 ? t : 0;
}

// "TextFieldTitles" holds one title or an array of them; every array element is a field, and
// an element that is not a string gives a field without a title.
std::vector<std::string> text_field_titles(const Value& v) {
  if (auto s = v.read_string()) return {std::string(*s)};
  std::vector<std::string> titles;
  if (const Array* a = v.if_array())
    for (const auto& title : *a)
      titles.emplace_back(title.read_string().value_or(""));
  return titles;
}

// Asks the installed presenter, on the calling thread; nullopt when nothing can show it.
std::optional<DialogResponse> present(DialogRequest& request) {
  auto presenter = dialog_presenter();
  if (!presenter) return std::nullopt;
  request.thread = std::this_thread::get_id();
  return presenter->present(request);
}

}  // namespace

void set_dialog_presenter(std::shared_ptr<DialogPresenter> presenter) {
  std::lock_guard lock(g_presenter_mutex);
  g_presenter = std::move(presenter);
}

std::shared_ptr<DialogPresenter> dialog_presenter() {
  std::lock_guard lock(g_presenter_mutex);
  return g_presenter;
}

SInt32 CFUserNotificationDisplayAlert(CFTimeInterval timeout, CFOptionFlags flags, const Value&,
                                      const Value&, const Value&, const Value& alertHeader,
                                      const Value& alertMessage, const Value& defaultButtonTitle,
                                      const Value& alternateButtonTitle,
                                      const Value& otherButtonTitle, CFOptionFlags* responseFlags) {
  DialogRequest request;
  request.header = alertHeader.read_string().value_or("");
  request.message = alertMessage.read_string().value_or("");
  request.default_button = optional_string(defaultButtonTitle);
  request.alternate_button = optional_string(alternateButtonTitle);
  request.other_button = optional_string(otherButtonTitle);
  request.timeout = sane_timeout(timeout);
  request.flags = flags;
  auto response = present(request);
  if (!response) return -1;
  if (responseFlags) *responseFlags = response->flags;
  return 0;
}

CFUserNotificationRef CFUserNotificationCreate(CFAllocatorRef, CFTimeInterval timeout,
                                               CFOptionFlags flags, SInt32* error,
                                               const Dictionary& dictionary) {
  if (!dialog_presenter()) {
    if (error) *error = -1;
    return nullptr;
  }
  auto* n = new UserNotification;
  n->request.header = dictionary.get(kCFUserNotificationAlertHeaderKey).read_string().value_or("");
  n->request.message =
      dictionary.get(kCFUserNotificationAlertMessageKey).read_string().value_or("");
  n->request.default_button =
      optional_string(dictionary.get(kCFUserNotificationDefaultButtonTitleKey));
  n->request.alternate_button =
      optional_string(dictionary.get(kCFUserNotificationAlternateButtonTitleKey));
  n->request.other_button = optional_string(dictionary.get(kCFUserNotificationOtherButtonTitleKey));
  n->request.text_field_titles =
      text_field_titles(dictionary.get(kCFUserNotificationTextFieldTitlesKey));
  n->request.timeout = sane_timeout(timeout);
  n->request.flags = flags;
  if (error) *error = 0;
  return n;
}

SInt32 CFUserNotificationReceiveResponse(CFUserNotificationRef notification, CFTimeInterval timeout,
                                         CFOptionFlags* responseFlags) {
  if (!notification) return -1;
  if (!notification->response) {
    // The dialog is shown here, where the caller is ready to wait for it; the shorter of the two
    // time-outs closes it.
    DialogRequest& request = notification->request;
    timeout = sane_timeout(timeout);
    if (timeout > 0 && (request.timeout == 0 || timeout < request.timeout))
      request.timeout = timeout;
    notification->response = present(request);
    if (!notification->response) return -1;
  }
  if (responseFlags) *responseFlags = notification->response->flags;
  return 0;
}

Value CFUserNotificationGetResponseValue(CFUserNotificationRef notification, std::string_view key,
                                         long idx) {
  if (!notification || !notification->response || key != kCFUserNotificationTextFieldValuesKey)
    return Value();
  const auto& values = notification->response->text_field_values;
  if (idx < 0 || static_cast<std::size_t>(idx) >= values.size()) return Value();
  return Value(values[static_cast<std::size_t>(idx)]);
}

void CFRelease(CFUserNotificationRef notification) {
  delete notification;
}

}  // namespace orv
