// Compiled into each program that takes its malloc from mimalloc (cmake/Allocator.cmake).
//
// By default mimalloc hands memory that has been free for a few milliseconds back to the
// system page by page, and taking such a page again costs a page fault. A list of 5,000 jobs
// after a pause then took some 2,200 faults, 30 to 40 ms on a virtual machine, in the service
// and again in the host, at every click and every rebuild. The programs' working sets are
// bounded (the list, the pages, capped logs), so the pages they freed stay theirs; memory
// that mimalloc frees whole still goes back.
#include <mimalloc.h>

namespace {

[[maybe_unused]] const bool kFreedPagesKept = [] {
  mi_option_disable(mi_option_allow_decommit);
  return true;
}();

}  // namespace
