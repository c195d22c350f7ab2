#include "bench/free_allocation.h"

#include <sys/mman.h>

#include <cstddef>
#include <cstdlib>
#include <new>

namespace {

constexpr std::size_t kBlockSize = std::size_t{256} << 20;

std::byte* block() {
  static std::byte* const memory = [] {
    void* p = ::mmap(nullptr, kBlockSize, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (p == MAP_FAILED) std::abort();
    return static_cast<std::byte*>(p);
  }();
  return memory;
}

thread_local bool bumping = false;
thread_local std::size_t used = 0;

void* allocate(std::size_t size) {
  if (bumping) {
    void* p = block() + used;
    used += (size + 15) & ~std::size_t{15};
    if (used > kBlockSize) std::abort();  // a bound for small documents only
    return p;
  }
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}

void release(void* p) {
  auto* b = static_cast<std::byte*>(p);
  if (b >= block() && b < block() + kBlockSize) return;
  std::free(p);
}

}  // namespace

FreeAllocation::FreeAllocation() {
  block();
  used = 0;
  bumping = true;
}

FreeAllocation::~FreeAllocation() {
  bumping = false;
}

void* operator new(std::size_t size) {
  return allocate(size);
}
void* operator new[](std::size_t size) {
  return allocate(size);
}
void operator delete(void* p) noexcept {
  release(p);
}
void operator delete[](void* p) noexcept {
  release(p);
}
void operator delete(void* p, std::size_t) noexcept {
  release(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  release(p);
}
