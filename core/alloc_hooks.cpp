// Global operator new and delete that feed the DV_CHECK_ALLOC record. Only the
// dirtvane executable (and the allocation check test) link this file, so the
// libraries and the other tests keep the standard allocator.
#include <cstdlib>
#include <new>

#include "core/alloc_check.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define DV_ALLOC_HOOKS_OFF 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define DV_ALLOC_HOOKS_OFF 1
#endif

#ifndef DV_ALLOC_HOOKS_OFF

namespace {

void* allocate(std::size_t size, std::size_t alignment) {
  if (size == 0) size = 1;
  for (;;) {
    void* block = nullptr;
    if (alignment <= alignof(std::max_align_t)) {
      block = malloc(size);
    } else if (posix_memalign(&block, alignment, size) != 0) {
      block = nullptr;
    }
    if (block) {
      alloc_check_record(block);
      return block;
    }
    std::new_handler handler = std::get_new_handler();
    if (!handler) throw std::bad_alloc();
    handler();
  }
}

void* allocate_nothrow(std::size_t size, std::size_t alignment) noexcept {
  try {
    return allocate(size, alignment);
  } catch (...) {
    return nullptr;
  }
}

void release(void* block) noexcept {
  if (block && alloc_check_release(block)) free(block);
}

constexpr std::size_t PLAIN = alignof(std::max_align_t);

}  // namespace

void* operator new(std::size_t size) { return allocate(size, PLAIN); }
void* operator new[](std::size_t size) { return allocate(size, PLAIN); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate_nothrow(size, PLAIN); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate_nothrow(size, PLAIN); }
void* operator new(std::size_t size, std::align_val_t a) { return allocate(size, (std::size_t)a); }
void* operator new[](std::size_t size, std::align_val_t a) { return allocate(size, (std::size_t)a); }
void* operator new(std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
  return allocate_nothrow(size, (std::size_t)a);
}
void* operator new[](std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
  return allocate_nothrow(size, (std::size_t)a);
}

void operator delete(void* block) noexcept { release(block); }
void operator delete[](void* block) noexcept { release(block); }
void operator delete(void* block, std::size_t) noexcept { release(block); }
void operator delete[](void* block, std::size_t) noexcept { release(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { release(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { release(block); }
void operator delete(void* block, std::align_val_t) noexcept { release(block); }
void operator delete[](void* block, std::align_val_t) noexcept { release(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept { release(block); }
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept { release(block); }
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept { release(block); }
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept { release(block); }

#endif
