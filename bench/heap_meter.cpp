#include "heap_meter.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace travosk::bench::heap {

namespace {

std::atomic<size_t> in_use{0};
std::atomic<size_t> peak{0};

void* Take(size_t size, size_t alignment) {
  if (size == 0) size = 1;
  void* p = alignment > alignof(std::max_align_t)
                ? std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment)
                : std::malloc(size);
  if (!p) return nullptr;
  // Counted as the allocator really hands it out, so that the release
  // below, which knows only the pointer, takes away the same amount.
  const size_t got = malloc_usable_size(p);
  const size_t now = in_use.fetch_add(got) + got;
  size_t seen = peak.load();
  while (now > seen && !peak.compare_exchange_weak(seen, now)) {
  }
  return p;
}

void Give(void* p) {
  if (!p) return;
  in_use.fetch_sub(malloc_usable_size(p));
  std::free(p);
}

void* TakeOrThrow(size_t size, size_t alignment) {
  void* p = Take(size, alignment);
  if (!p) throw std::bad_alloc();
  return p;
}

}  // namespace

size_t InUse() {
  return in_use.load();
}
size_t Peak() {
  return peak.load();
}
void ResetPeak() {
  peak.store(in_use.load());
}

}  // namespace travosk::bench::heap

using travosk::bench::heap::Give;
using travosk::bench::heap::Take;
using travosk::bench::heap::TakeOrThrow;

void* operator new(std::size_t size) {
  return TakeOrThrow(size, 0);
}
void* operator new[](std::size_t size) {
  return TakeOrThrow(size, 0);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return Take(size, 0);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return Take(size, 0);
}
void* operator new(std::size_t size, std::align_val_t a) {
  return TakeOrThrow(size, static_cast<size_t>(a));
}
void* operator new[](std::size_t size, std::align_val_t a) {
  return TakeOrThrow(size, static_cast<size_t>(a));
}
void* operator new(std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
  return Take(size, static_cast<size_t>(a));
}
void* operator new[](std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
  return Take(size, static_cast<size_t>(a));
}
void operator delete(void* p) noexcept {
  Give(p);
}
void operator delete[](void* p) noexcept {
  Give(p);
}
void operator delete(void* p, std::size_t) noexcept {
  Give(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  Give(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
  Give(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
  Give(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
  Give(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
  Give(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  Give(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  Give(p);
}
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept {
  Give(p);
}
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept {
  Give(p);
}
