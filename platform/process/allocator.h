// Allocator settings a long-running process chooses for itself. Library code leaves the
// allocator alone; a host program calls this once at the start of main.
#pragma once

namespace orv {

// Keeps freed heap memory in the process instead of handing it back to the kernel after every
// large free. A page that rebuilds a multi-megabyte list every few seconds otherwise frees the
// old list, has glibc trim the heap top (or unmap the big buffers), and page-faults the same
// memory back in on the next rebuild. Returns false when the allocator refused a setting.
bool tune_process_allocator();

}  // namespace orv
