// The host's own texts (bars, help, messages) in the language the pages speak: English, or
// Chinese when the user's preferred language is Chinese. The English text is the key, so the
// code reads as it shows; a text without a translation shows in English.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace orv::host {

// The text in the user's language.
std::string_view tr(std::string_view english);
// tr(pattern) with each "{}" replaced by the next argument, in order.
std::string tr_format(std::string_view pattern, std::initializer_list<std::string_view> args);

}  // namespace orv::host
