// The bplist00 layout, shared by the reader and the writer: the 8-byte magic, the objects, an
// offset table (one offset per object, each offset_size bytes, big-endian) and a 32-byte
// trailer: 6 unused bytes, offset_size, ref_size, then object count, top object and
// offset-table position as 64-bit big-endian numbers. Each object starts with a marker byte:
// high nibble = kind, low nibble = size or count (0xF: the count follows as an integer object).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace orv::bplist {

inline constexpr std::string_view kMagic = "bplist00";
inline constexpr std::size_t kHeaderSize = 8;
inline constexpr std::size_t kTrailerSize = 32;
// Containers nested deeper than this are neither read nor written.
inline constexpr int kMaxDepth = 512;

enum Marker : std::uint8_t {
  kFalse = 0x08,
  kTrue = 0x09,
  kInt = 0x10,
  kReal = 0x20,
  kDate = 0x33,
  kData = 0x40,
  kAsciiString = 0x50,
  kUtf16String = 0x60,
  kArray = 0xA0,
  kDict = 0xD0,
};

}  // namespace orv::bplist
