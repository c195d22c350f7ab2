// The wire format of the messaging center, apart from any socket: frame lengths and the request
// and reply roots inside a frame. Pure functions, so the parsers can be fuzzed on their own.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/value/value.h"

namespace orv::ipc {

inline constexpr std::size_t kFrameHeaderSize = 4;
inline constexpr std::uint32_t kMaxFrameLength = 16u * 1024 * 1024;

// The big-endian length header of a frame carrying `length` bytes.
void put_frame_length(std::uint32_t length, std::uint8_t (&header)[kFrameHeaderSize]);
// The payload length a header announces, whatever it is.
std::uint32_t announced_frame_length(const std::uint8_t (&header)[kFrameHeaderSize]);
// The announced payload length, or nullopt when it is 0 or above kMaxFrameLength (such a frame
// is refused before anything is allocated for it).
std::optional<std::uint32_t> parse_frame_length(const std::uint8_t (&header)[kFrameHeaderSize]);

struct Request {
  std::string name;
  Value user_info;  // null when the request carried no "userInfo"
};

// {"name": name} plus "userInfo" when user_info is a dictionary; nullopt when user_info is
// neither null nor a dictionary, or cannot be encoded.
std::optional<Bytes> encode_request(std::string_view name, const Value& user_info);
// The request in a frame payload; nullopt unless the payload is a binary property list whose
// root is a dictionary with a string "name" and, when present, a dictionary "userInfo".
std::optional<Request> decode_request(std::span<const std::uint8_t> payload);

// {"reply": reply} when reply is a dictionary that can be encoded, otherwise the empty root
// ("no reply"). Empty only if the encoder itself fails.
Bytes encode_reply(const std::optional<Value>& reply);
// The reply in a frame payload: the reply dictionary, a null Value for "no reply" (a root
// dictionary without "reply"), or nullopt for anything malformed (not a plist, a root that is
// not a dictionary, a "reply" that is not a dictionary).
std::optional<Value> decode_reply(std::span<const std::uint8_t> payload);

}  // namespace orv::ipc
