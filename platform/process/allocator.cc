#include "platform/process/allocator.h"

#include <malloc.h>

namespace orv {

namespace {

// Headroom added whenever the heap grows, so the next rebuild finds it already mapped.
constexpr int kTopPad = 16 << 20;
// Freed memory at the heap top is returned to the kernel only beyond this size.
constexpr int kTrimThreshold = 32 << 20;
// Buffers below this size come from the heap rather than their own mapping, so the list's
// vectors (a few hundred kB at several thousand rows) are reused instead of unmapped.
constexpr int kMmapThreshold = 4 << 20;

}  // namespace

bool tune_process_allocator() {
  // Setting M_TRIM_THRESHOLD or M_MMAP_THRESHOLD also stops glibc's dynamic threshold
  // adjustment, which is what makes these values stick.
  bool ok = mallopt(M_MMAP_THRESHOLD, kMmapThreshold) == 1;
  ok = mallopt(M_TRIM_THRESHOLD, kTrimThreshold) == 1 && ok;
  ok = mallopt(M_TOP_PAD, kTopPad) == 1 && ok;
  return ok;
}

}  // namespace orv
