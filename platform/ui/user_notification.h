// User notifications: the blocking system dialogs. The calls keep the shapes of the platform's
// C interface; what they show goes to a DialogPresenter that the host installs (the terminal
// UI draws a modal box, the command line answers from its arguments, tests script answers).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/value/value.h"

namespace orv {

using CFOptionFlags = unsigned long;
using SInt32 = std::int32_t;
using CFTimeInterval = double;

// Response flags: the two low bits name the button that closed the dialog.
inline constexpr CFOptionFlags kCFUserNotificationDefaultResponse = 0;
inline constexpr CFOptionFlags kCFUserNotificationAlternateResponse = 1;
inline constexpr CFOptionFlags kCFUserNotificationOtherResponse = 2;
inline constexpr CFOptionFlags kCFUserNotificationCancelResponse = 3;
inline constexpr CFOptionFlags kCFUserNotificationPlainAlertLevel = 3;

// Keys of a notification dictionary.
inline constexpr const char* kCFUserNotificationAlertHeaderKey = "AlertHeader";
inline constexpr const char* kCFUserNotificationAlertMessageKey = "AlertMessage";
inline constexpr const char* kCFUserNotificationTextFieldTitlesKey = "TextFieldTitles";
inline constexpr const char* kCFUserNotificationTextFieldValuesKey = "TextFieldValues";
inline constexpr const char* kCFUserNotificationDefaultButtonTitleKey = "DefaultButtonTitle";
inline constexpr const char* kCFUserNotificationAlternateButtonTitleKey = "AlternateButtonTitle";
inline constexpr const char* kCFUserNotificationOtherButtonTitleKey = "OtherButtonTitle";

// What a presenter is asked to show. Absent button titles are empty optionals; a dialog
// with no default button title shows the platform's own ("OK").
struct DialogRequest {
  std::string header;
  std::string message;
  std::optional<std::string> default_button;
  std::optional<std::string> alternate_button;
  std::optional<std::string> other_button;
  std::vector<std::string> text_field_titles;  // one text field per title
  CFTimeInterval timeout = 0;                  // seconds; 0 = never closes by itself
  CFOptionFlags flags = 0;
  std::thread::id thread;  // the thread that showed it
};

struct DialogResponse {
  CFOptionFlags flags = kCFUserNotificationCancelResponse;
  std::vector<std::string> text_field_values;
};

class DialogPresenter {
 public:
  virtual ~DialogPresenter() = default;
  // Shows the dialog and blocks until it is answered or its time-out runs out. The presenter
  // keeps the time-out itself: when request.timeout (> 0) seconds pass unanswered it closes the
  // dialog and answers kCFUserNotificationCancelResponse. nullopt: the dialog could not be shown
  // at all. Called on the thread that shows the dialog (request.thread).
  virtual std::optional<DialogResponse> present(const DialogRequest& request) = 0;
};

// Installs the presenter for this process (null: dialogs cannot be shown).
void set_dialog_presenter(std::shared_ptr<DialogPresenter> presenter);
std::shared_ptr<DialogPresenter> dialog_presenter();

// Shows an alert and waits. Returns 0 when it was shown, -1 when it could not be; response
// flags are written only when `response_flags` is not null and an answer came.
SInt32 CFUserNotificationDisplayAlert(CFTimeInterval timeout, CFOptionFlags flags,
                                      const Value& iconURL, const Value& soundURL,
                                      const Value& localizationURL, const Value& alertHeader,
                                      const Value& alertMessage, const Value& defaultButtonTitle,
                                      const Value& alternateButtonTitle,
                                      const Value& otherButtonTitle, CFOptionFlags* responseFlags);

struct UserNotification;
using CFUserNotificationRef = UserNotification*;
using CFAllocatorRef = const void*;
inline constexpr CFAllocatorRef kCFAllocatorDefault = nullptr;

// Creates a notification from a dictionary with the keys above ("TextFieldTitles": one string
// or an array of strings); null on failure (no presenter), with *error set to -1 when error is
// given. The dialog is shown when its response is first asked for.
CFUserNotificationRef CFUserNotificationCreate(CFAllocatorRef allocator, CFTimeInterval timeout,
                                               CFOptionFlags flags, SInt32* error,
                                               const Dictionary& dictionary);
// Shows the dialog and waits for the answer (timeout 0: without limit; otherwise the shorter of
// this and the creation time-out closes the dialog). 0 when an answer came, -1 when the dialog
// could not be shown. A second call returns the same answer.
SInt32 CFUserNotificationReceiveResponse(CFUserNotificationRef notification, CFTimeInterval timeout,
                                         CFOptionFlags* responseFlags);
// The response value under key at index (kCFUserNotificationTextFieldValuesKey, 0: the text of
// the first field); null when there is none.
Value CFUserNotificationGetResponseValue(CFUserNotificationRef notification, std::string_view key,
                                         long idx);
void CFRelease(CFUserNotificationRef notification);

}  // namespace orv
