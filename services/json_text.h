// The plugin's exported JSON conversions. Both return a null Value for every failure and keep
// no state; they are exported unmangled so that other code can look them up by name.
#pragma once

#include "platform/value/value.h"

#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wreturn-type-c-linkage"
#endif

// A string Value holding the compact JSON text of a dictionary or an array, or null (a null
// argument, a scalar at the top, data, dates, non-finite reals, invalid UTF-8).
extern "C" orv::Value ns_2_json(const orv::Value& object);

// The dictionary or array that a JSON string describes, or null (a non-string argument,
// malformed text, a scalar at the top).
extern "C" orv::Value json_2_ns(const orv::Value& text);

#if defined(__clang__)
#pragma clang diagnostic pop
#endif
