#include "platform/plist/xml_plist.h"

#include <expat.h>

#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "platform/plist/plist_text.h"
#include "platform/plist/utf.h"

namespace orv {

namespace {

using plist_detail::is_xml_text;

constexpr std::size_t kMaxDepth = 512;

enum class Element { Plist, Dict, Array, Key, String, Integer, Real, Date, Data, True, False };

std::optional<Element> element_named(std::string_view name) {
  static constexpr std::pair<std::string_view, Element> kNames[] = {
      {"plist", Element::Plist}, {"dict", Element::Dict},     {"array", Element::Array},
      {"key", Element::Key},     {"string", Element::String}, {"integer", Element::Integer},
      {"real", Element::Real},   {"date", Element::Date},     {"data", Element::Data},
      {"true", Element::True},   {"false", Element::False},
  };
  for (const auto& [n, e] : kNames)
    if (n == name) return e;
  return std::nullopt;
}

bool is_xml_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && is_xml_space(s.front()))
    s.remove_prefix(1);
  while (!s.empty() && is_xml_space(s.back()))
    s.remove_suffix(1);
  return s;
}

// Decimal or "0x" hexadecimal, optionally signed; signed 64-bit, or unsigned up to 2^64-1.
std::optional<Value> parse_integer(std::string_view text) {
  text = trim(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  std::uint64_t magnitude = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, magnitude, base);
  if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
  if (!negative) return Value::unsigned_integer(magnitude);
  constexpr std::uint64_t kMinMagnitude = std::uint64_t{1} << 63;
  if (magnitude > kMinMagnitude) return std::nullopt;
  return Value(static_cast<std::int64_t>(0 - magnitude));
}

std::optional<Value> parse_real(std::string_view text) {
  text = trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  double d = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, d);
  // Out-of-range text reads as the infinity or zero it rounds to, as strtod gives.
  if (text.empty() || ptr != end || (ec != std::errc() && ec != std::errc::result_out_of_range))
    return std::nullopt;
  if (ec == std::errc::result_out_of_range) d = std::strtod(std::string(text).c_str(), nullptr);
  return Value(d);
}

// One open container: an array, a dictionary (with the key awaiting its value), or the plist
// wrapper, which holds exactly one value.
struct Frame {
  Element element;
  Array array;
  Dictionary dict;
  std::optional<std::string> pending_key;
  std::optional<Value> single;
};

class XmlReader {
 public:
  XmlReader() : parser_(XML_ParserCreate("UTF-8")) {}
  ~XmlReader() { XML_ParserFree(parser_); }
  XmlReader(const XmlReader&) = delete;
  XmlReader& operator=(const XmlReader&) = delete;

  Result<Value> read(std::string_view text) {
    if (!parser_) return fail("no memory for the XML parser");
    XML_SetUserData(parser_, this);
    XML_SetElementHandler(parser_, &XmlReader::on_start, &XmlReader::on_end);
    XML_SetCharacterDataHandler(parser_, &XmlReader::on_text);
    XML_SetEntityDeclHandler(parser_, &XmlReader::on_entity_decl);
    // Feed in small chunks: a refusal then stops the work early instead of after expat has
    // tokenized the whole text, and XML_Parse takes an int length.
    constexpr std::size_t kChunk = 64 * 1024;
    do {
      const std::size_t n = std::min(text.size(), kChunk);
      const bool last = n == text.size();
      const bool parsed =
          XML_Parse(parser_, text.data(), static_cast<int>(n), last) == XML_STATUS_OK;
      if (refusal_) return fail(refusal_);
      if (!parsed) return fail(expat_error());
      text.remove_prefix(n);
    } while (!text.empty());
    if (!result_) return fail("no value");
    return std::move(*result_);
  }

 private:
  static void XMLCALL on_start(void* self, const XML_Char* name, const XML_Char**) {
    static_cast<XmlReader*>(self)->start(name);
  }
  static void XMLCALL on_end(void* self, const XML_Char*) { static_cast<XmlReader*>(self)->end(); }
  static void XMLCALL on_text(void* self, const XML_Char* s, int len) {
    static_cast<XmlReader*>(self)->text(std::string_view(s, static_cast<std::size_t>(len)));
  }
  // Entity declarations are how "billion laughs" documents expand; no property list needs one.
  static void XMLCALL on_entity_decl(void* self, const XML_Char*, int, const XML_Char*, int,
                                     const XML_Char*, const XML_Char*, const XML_Char*,
                                     const XML_Char*) {
    static_cast<XmlReader*>(self)->refuse("an entity declaration");
  }

  std::string expat_error() const {
    return std::string("malformed XML at line ") +
           std::to_string(XML_GetCurrentLineNumber(parser_)) + ": " +
           XML_ErrorString(XML_GetErrorCode(parser_));
  }

  // Stops the parser; the first reason given is the one reported.
  void refuse(const char* reason) {
    if (refusal_) return;
    XML_StopParser(parser_, XML_FALSE);
    refusal_ = reason;
  }

  bool is_container(Element e) const {
    return e == Element::Plist || e == Element::Dict || e == Element::Array;
  }

  void start(std::string_view name) {
    if (refusal_) return;
    const std::optional<Element> element = element_named(name);
    if (!element) return refuse("an unknown element");
    // Elements nest only inside containers; a scalar holds text alone.
    if (in_scalar_) return refuse("an element inside a scalar");
    if ((result_ && stack_.empty()) || (*element == Element::Plist && (!stack_.empty() || result_)))
      return refuse("a second value or plist element");
    const bool in_dict = !stack_.empty() && stack_.back().element == Element::Dict;
    const bool wants_key = in_dict && !stack_.back().pending_key;
    if ((*element == Element::Key) != wants_key)
      return refuse(wants_key ? "a dictionary value without its key"
                              : "a key outside a dictionary");
    if (is_container(*element)) {
      if (*element != Element::Plist && ++containers_open_ > kMaxDepth)
        return refuse("containers nested too deep");
      stack_.push_back(Frame{*element, {}, {}, {}, {}});
      return;
    }
    in_scalar_ = true;
    scalar_ = *element;
    text_.clear();
  }

  void text(std::string_view s) {
    if (refusal_) return;
    if (in_scalar_) {
      text_.append(s);
    } else if (!trim(s).empty()) {
      refuse("text between elements");
    }
  }

  void end() {
    if (refusal_) return;
    if (in_scalar_) {
      in_scalar_ = false;
      if (scalar_ == Element::Key) {
        stack_.back().pending_key = std::move(text_);
        text_ = {};
        return;
      }
      std::optional<Value> v = scalar_value();
      if (!v) return refuse("a malformed number, date, data or boolean");
      return add(std::move(*v));
    }
    Frame frame = std::move(stack_.back());
    stack_.pop_back();
    if (frame.element != Element::Plist) --containers_open_;
    std::optional<Value> v;
    if (frame.element == Element::Array) {
      v = Value(std::move(frame.array));
    } else if (frame.element == Element::Dict && !frame.pending_key) {
      v = Value(std::move(frame.dict));
    } else if (frame.element == Element::Plist && frame.single) {
      v = std::move(frame.single);
    }
    if (!v) return refuse("a key without a value, or an empty plist");
    add(std::move(*v));
  }

  std::optional<Value> scalar_value() {
    switch (scalar_) {
      case Element::String:
        return Value(std::move(text_));
      case Element::Integer:
        return parse_integer(text_);
      case Element::Real:
        return parse_real(text_);
      case Element::Date: {
        std::optional<Date> d = plist_detail::parse_iso8601(trim(text_));
        return d ? std::optional<Value>(Value(*d)) : std::nullopt;
      }
      case Element::Data: {
        std::optional<Bytes> b = plist_detail::decode_base64(text_);
        return b ? std::optional<Value>(Value::data(std::move(*b))) : std::nullopt;
      }
      case Element::True:
      case Element::False:
        if (!trim(text_).empty()) return std::nullopt;
        return Value(scalar_ == Element::True);
      default:
        return std::nullopt;
    }
  }

  void add(Value v) {
    if (stack_.empty()) {
      result_ = std::move(v);
      return;
    }
    Frame& top = stack_.back();
    switch (top.element) {
      case Element::Array:
        top.array.push_back(std::move(v));
        return;
      case Element::Dict:
        // A repeated key refuses the document: readers disagree on which value would win.
        if (!top.dict.add(*top.pending_key, std::move(v)))
          return refuse("a repeated dictionary key");
        top.pending_key.reset();
        return;
      default:
        if (top.single) return refuse("a plist element with more than one value");
        top.single = std::move(v);
        return;
    }
  }

  XML_Parser parser_;
  std::vector<Frame> stack_;
  std::size_t containers_open_ = 0;  // arrays and dictionaries; the plist wrapper is no level
  bool in_scalar_ = false;
  Element scalar_ = Element::String;
  std::string text_;
  std::optional<Value> result_;
  const char* refusal_ = nullptr;
};

class XmlWriter {
 public:
  std::optional<std::string> write(const Value& root) {
    out_ =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
        "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
        "<plist version=\"1.0\">\n";
    if (!write_value(root, 0)) return std::nullopt;
    out_ += "</plist>\n";
    return std::move(out_);
  }

 private:
  void indent(std::size_t depth) { out_.append(depth, '\t'); }

  bool write_value(const Value& v, std::size_t depth) {
    indent(depth);
    switch (v.kind()) {
      case Kind::Null:
        return false;
      case Kind::Boolean:
        out_ += *v.if_boolean() ? "<true/>\n" : "<false/>\n";
        return true;
      case Kind::Integer:
        return write_element("integer", v.number_text());
      case Kind::Real:
        return write_element("real", real_text(*v.if_real()));
      case Kind::Date: {
        std::optional<std::string> text = plist_detail::format_iso8601(*v.if_date());
        return text && write_element("date", *text);
      }
      case Kind::Data:
        write_data(*v.if_data(), depth);
        return true;
      case Kind::String:
        return write_text_element("string", v.as_string());
      case Kind::Array:
        return write_array(v.as_array(), depth);
      case Kind::Dictionary:
        return write_dict(v.as_dictionary(), depth);
    }
    return false;
  }

  static std::string real_text(double d) {
    if (std::isnan(d)) return "nan";
    if (std::isinf(d)) return d > 0 ? "+infinity" : "-infinity";
    char buf[32];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d);
    return std::string(buf, end);
  }

  bool write_element(std::string_view name, std::string_view text) {
    out_ += '<';
    out_ += name;
    out_ += '>';
    out_ += text;
    out_ += "</";
    out_ += name;
    out_ += ">\n";
    return true;
  }

  // Text that XML 1.0 cannot carry (other control characters, invalid UTF-8) has no form:
  // writing it would give a file no reader accepts.
  bool write_text_element(std::string_view name, std::string_view text) {
    if (!is_xml_text(text)) return false;
    out_ += '<';
    out_ += name;
    out_ += '>';
    append_escaped(text);
    out_ += "</";
    out_ += name;
    out_ += ">\n";
    return true;
  }

  void append_escaped(std::string_view text) {
    for (char c : text) {
      switch (c) {
        case '&':
          out_ += "&amp;";
          break;
        case '<':
          out_ += "&lt;";
          break;
        case '>':
          out_ += "&gt;";
          break;
        case '\r':  // a raw CR would come back as a newline
          out_ += "&#13;";
          break;
        default:
          out_ += c;
      }
    }
  }

  void write_data(const Bytes& data, std::size_t depth) {
    constexpr std::size_t kLineLength = 68;
    out_ += "<data>\n";
    const std::string encoded = plist_detail::encode_base64(data);
    for (std::size_t i = 0; i < encoded.size(); i += kLineLength) {
      indent(depth);
      out_.append(encoded, i, kLineLength);
      out_ += '\n';
    }
    indent(depth);
    out_ += "</data>\n";
  }

  bool write_array(const Array& items, std::size_t depth) {
    if (depth >= kMaxDepth) return false;  // deeper than any reader accepts
    if (items.empty()) {
      out_ += "<array/>\n";
      return true;
    }
    out_ += "<array>\n";
    for (const Value& item : items)
      if (!write_value(item, depth + 1)) return false;
    indent(depth);
    out_ += "</array>\n";
    return true;
  }

  bool write_dict(const Dictionary& dict, std::size_t depth) {
    if (depth >= kMaxDepth) return false;  // deeper than any reader accepts
    if (dict.empty()) {
      out_ += "<dict/>\n";
      return true;
    }
    out_ += "<dict>\n";
    for (const auto& [key, value] : dict) {
      indent(depth + 1);
      if (!write_text_element("key", key) || !write_value(value, depth + 1)) return false;
    }
    indent(depth);
    out_ += "</dict>\n";
    return true;
  }

  std::string out_;
};

}  // namespace

Result<Value> decode_xml_plist(std::string_view text) {
  return XmlReader().read(text);
}

std::optional<std::string> encode_xml_plist(const Value& root) {
  return XmlWriter().write(root);
}

}  // namespace orv
