#include "platform/ipc/frame.h"

#include "platform/plist/binary_plist.h"

namespace orv::ipc {

void put_frame_length(std::uint32_t length, std::uint8_t (&header)[kFrameHeaderSize]) {
  header[0] = static_cast<std::uint8_t>(length >> 24);
  header[1] = static_cast<std::uint8_t>(length >> 16);
  header[2] = static_cast<std::uint8_t>(length >> 8);
  header[3] = static_cast<std::uint8_t>(length);
}

std::uint32_t announced_frame_length(const std::uint8_t (&header)[kFrameHeaderSize]) {
  return (std::uint32_t{header[0]} << 24) | (std::uint32_t{header[1]} << 16) |
         (std::uint32_t{header[2]} << 8) | std::uint32_t{header[3]};
}

std::optional<std::uint32_t> parse_frame_length(const std::uint8_t (&header)[kFrameHeaderSize]) {
  const std::uint32_t length = announced_frame_length(header);
  if (length == 0 || length > kMaxFrameLength) return std::nullopt;
  return length;
}

std::optional<Bytes> encode_request(std::string_view name, const Value& user_info) {
  if (!user_info.is_null() && !user_info.is_dictionary()) return std::nullopt;
  Dictionary root;
  root.reserve(2);
  root.set("name", Value(name));
  if (user_info.is_dictionary()) root.set("userInfo", user_info);
  return encode_binary_plist(Value(std::move(root)));
}

std::optional<Request> decode_request(std::span<const std::uint8_t> payload) {
  std::optional<Value> root = decode_binary_plist(payload);
  if (!root || !root->is_dictionary()) return std::nullopt;
  const Value& name = (*root)["name"];
  const Value& user_info = (*root)["userInfo"];
  if (!name.is_string()) return std::nullopt;
  if (!user_info.is_null() && !user_info.is_dictionary()) return std::nullopt;
  return Request{name.as_string(), user_info};
}

Bytes encode_reply(const std::optional<Value>& reply) {
  if (reply && reply->is_dictionary()) {
    if (std::optional<Bytes> bytes = encode_binary_plist(Value(Dictionary{{"reply", *reply}})))
      return std::move(*bytes);
  }
  static const std::optional<Bytes> no_reply = encode_binary_plist(Value(Dictionary{}));
  return no_reply.value_or(Bytes{});
}

std::optional<Value> decode_reply(std::span<const std::uint8_t> payload) {
  std::optional<Value> root = decode_binary_plist(payload);
  if (!root || !root->is_dictionary()) return std::nullopt;
  const Value& reply = (*root)["reply"];
  if (reply.is_null() || reply.is_dictionary()) return reply;
  return std::nullopt;
}

}  // namespace orv::ipc
