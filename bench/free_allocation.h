// The bound on what any arena or pool could give: while a FreeAllocation lives, operator new on
// its thread takes memory by bumping a pointer through a block that was touched beforehand and
// is reused by the next scope, and operator delete of that memory does nothing. A benchmark
// that runs the same work with and without it shows how much of the work's time allocation
// and freeing are.
//
// Everything allocated inside a scope must be gone when it ends, since the next scope writes
// over it: run the work once outside first, so caches that live on (thread-local buffers) are
// allocated from the heap.
#pragma once

class FreeAllocation {
 public:
  FreeAllocation();
  ~FreeAllocation();
  FreeAllocation(const FreeAllocation&) = delete;
  FreeAllocation& operator=(const FreeAllocation&) = delete;
};
