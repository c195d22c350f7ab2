#include "services/json_text.h"

#include "platform/json/json.h"

extern "C" orv::Value ns_2_json(const orv::Value& object) {
  if (object.is_null()) return orv::Value();
  std::optional<std::string> text = orv::write_json(object);
  return text ? orv::Value(std::move(*text)) : orv::Value();
}

extern "C" orv::Value json_2_ns(const orv::Value& text) {
  const std::string* string = text.if_string();
  if (!string) return orv::Value();
  orv::Result<orv::Value> object = orv::parse_json(*string);
  return object ? std::move(*object) : orv::Value();
}
