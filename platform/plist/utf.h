// Text conversions shared by the property-list codecs.
#pragma once

#include <string>
#include <string_view>

namespace orv::plist_detail {

bool is_ascii(std::string_view text);
// UTF-16 big-endian (an even number of bytes) to UTF-8, appended to out. false for a lone or
// misplaced surrogate.
bool utf16be_to_utf8(std::string_view utf16, std::string& out);
// UTF-8 to UTF-16 big-endian, appended to out. false for text that is not valid UTF-8
// (overlong forms, surrogates, values above U+10FFFF, truncated sequences).
bool utf8_to_utf16be(std::string_view utf8, std::string& out);
// Whether text is valid UTF-8 holding only characters an XML 1.0 document can carry (tab,
// newline, carriage return, and no other control characters, no U+FFFE or U+FFFF).
bool is_xml_text(std::string_view text);

}  // namespace orv::plist_detail
