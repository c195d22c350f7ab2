#include "host/terminal_locale.h"

#include <langinfo.h>

#include <clocale>
#include <cstring>

namespace orv::host {

namespace {

constexpr const char* kFallbackLocale = "C.UTF-8";

struct StandIn {
  std::string_view glyph;
  std::string_view ascii;
};

constexpr StandIn kStandIns[] = {
    {"─", "-"}, {"│", "|"}, {"┌", "+"},  {"┐", "+"},  {"└", "+"}, {"┘", "+"},
    {"›", ">"}, {"‹", "<"}, {"…", "."},  {"↑", "^"},  {"↓", "v"}, {"⏎", "<"},
    {"·", "."}, {"•", "*"}, {"“", "\""}, {"”", "\""}, {"‘", "'"}, {"’", "'"},
};

}  // namespace

bool use_environment_locale() {
  if (!std::setlocale(LC_ALL, "")) std::setlocale(LC_ALL, kFallbackLocale);
  return std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
}

std::string_view ascii_glyph(std::string_view glyph) {
  if (glyph.size() == 1 && static_cast<unsigned char>(glyph[0]) < 0x80) return glyph;
  for (const auto& stand_in : kStandIns)
    if (stand_in.glyph == glyph) return stand_in.ascii;
  return "?";
}

}  // namespace orv::host
