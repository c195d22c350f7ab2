// The binary writer's working storage: the objects it plans to write, their references, the
// UTF-16 forms of non-ASCII texts, and the indexes that find repeated texts and numbers. One
// set is kept per thread between documents, so that writing one allocates next to nothing
// once an earlier document has grown it; a document that made it large gives it back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/plist/binary_plist_object_index.h"

namespace orv::bplist {

enum class ObjectType : std::uint8_t { Plain, Ascii, Utf16, Array, Dict };

// An object to write. source is the Value, or for strings the text; containers own
// refs[first, first + count); UTF-16 strings own utf16[first, first + 2 * count).
struct PlannedObject {
  const void* source;
  std::uint64_t first;
  std::uint32_t count;
  ObjectType type;
};

struct WriteScratch {
  std::vector<PlannedObject> objects;
  std::vector<std::uint64_t> refs;
  std::string utf16;
  ObjectIndex strings;
  ObjectIndex integers;
  ObjectIndex unsigned_integers;

  // The thread's scratch, empty, for the next document.
  static WriteScratch& for_new_document() {
    thread_local WriteScratch s;
    if (s.objects.capacity() > kKept || s.strings.capacity() > kKept ||
        s.integers.capacity() > kKept || s.unsigned_integers.capacity() > kKept)
      s = WriteScratch{};
    s.objects.clear();
    s.refs.clear();
    s.utf16.clear();
    s.strings.clear();
    s.integers.clear();
    s.unsigned_integers.clear();
    return s;
  }

 private:
  static constexpr std::size_t kKept = 1u << 20;
};

}  // namespace orv::bplist
