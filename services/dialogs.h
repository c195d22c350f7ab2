// The plugin's two blocking dialogs, exported unmangled so that other code can look them up by
// name. Both go through the platform's user-notification calls, block the thread that shows the
// dialog until it is answered, and run the completion (if any) before returning.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/value/value.h"

// Seconds after which the pages' alerts close by themselves, as if CANCEL had been chosen.
inline constexpr std::int32_t kAlertTimeout = 888;

// An alert with "OK" and, when `with_cancel`, "CANCEL". Note the order: message, then header.
// The dialog is always shown from the main thread: called elsewhere, alert waits on the main
// queue until the dialog closed and the completion ran there. It closes by itself after
// `timeout` seconds. The completion is called only when `with_cancel` is true: with true when
// "OK" was pressed, with false for "CANCEL", a time-out, or a dialog that could not be shown at
// all (so nothing that waits for a confirmation goes ahead without one). An empty completion is
// none.
extern "C" void alert(const std::string& message, const std::string& header, std::int32_t timeout,
                      bool with_cancel, const std::function<void(bool)>& completion);

// A dialog with one text field, shown on the calling thread and waited for without limit. The
// completion is called only when the default button closed it, with field 0's text (a string
// Value, or null when the field came back absent). "CANCEL", a dialog that could not be shown or
// created, and an empty completion call nothing.
extern "C" void prompt(const std::string& header, const std::string& message,
                       const std::string& field_title,
                       const std::function<void(const orv::Value& text)>& completion);
