// Replaces glibc's allocator entry points with counting ones that forward to
// the real allocator under its internal names. Linked into the executable, so
// these win over libc's for every library in the process.
#include "malloc_count.h"

#include <cerrno>
#include <cstddef>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* p, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* p);
}

namespace {

// Relaxed enough: the benchmarks run on one thread, and other threads only
// ever add.
unsigned long calls = 0;

}  // namespace

unsigned long allocationCalls() { return __atomic_load_n(&calls, __ATOMIC_RELAXED); }

extern "C" {

void* malloc(size_t size) {
    __atomic_add_fetch(&calls, 1, __ATOMIC_RELAXED);
    return __libc_malloc(size);
}

void* calloc(size_t count, size_t size) {
    __atomic_add_fetch(&calls, 1, __ATOMIC_RELAXED);
    return __libc_calloc(count, size);
}

void* realloc(void* p, size_t size) {
    __atomic_add_fetch(&calls, 1, __ATOMIC_RELAXED);
    return __libc_realloc(p, size);
}

void* memalign(size_t alignment, size_t size) {
    __atomic_add_fetch(&calls, 1, __ATOMIC_RELAXED);
    return __libc_memalign(alignment, size);
}

void* aligned_alloc(size_t alignment, size_t size) { return memalign(alignment, size); }

int posix_memalign(void** out, size_t alignment, size_t size) {
    void* p = memalign(alignment, size);
    if (p == nullptr) return ENOMEM;
    *out = p;
    return 0;
}

void free(void* p) { __libc_free(p); }

}  // extern "C"
