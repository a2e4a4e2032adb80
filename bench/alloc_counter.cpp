// malloc, calloc, realloc, free and the aligned variants, forwarded to
// glibc's own entry points and counted per thread while a HeapScope is open.
#include "alloc_counter.h"

#include <malloc.h>

#include <cerrno>
#include <cstdlib>

extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *block, size_t size);
void __libc_free(void *block);
void *__libc_memalign(size_t alignment, size_t size);
}

namespace
{
struct Counter {
    bool on = false;
    long long live = 0;
    long long peak = 0;
    unsigned long long allocations = 0;
};
thread_local Counter t_counter;

void added(void *block)
{
    Counter &c = t_counter;
    if (!c.on || block == nullptr) {
        return;
    }
    c.live += static_cast<long long>(malloc_usable_size(block));
    ++c.allocations;
    if (c.live > c.peak) {
        c.peak = c.live;
    }
}

void removed(void *block)
{
    Counter &c = t_counter;
    if (!c.on || block == nullptr) {
        return;
    }
    c.live -= static_cast<long long>(malloc_usable_size(block));
}
} // namespace

namespace vekbench
{
HeapScope::HeapScope()
{
    t_counter = Counter{};
    t_counter.on = true;
}

HeapScope::~HeapScope()
{
    t_counter.on = false;
}

HeapUse HeapScope::finish()
{
    t_counter.on = false;
    open_ = false;
    HeapUse use;
    use.peakBytes = static_cast<std::size_t>(t_counter.peak);
    use.allocations = t_counter.allocations;
    use.liveBytes = t_counter.live;
    return use;
}
} // namespace vekbench

extern "C" {

void *malloc(size_t size)
{
    void *block = __libc_malloc(size);
    added(block);
    return block;
}

void *calloc(size_t count, size_t size)
{
    void *block = __libc_calloc(count, size);
    added(block);
    return block;
}

void *realloc(void *block, size_t size)
{
    removed(block);
    void *grown = __libc_realloc(block, size);
    if (grown == nullptr && size != 0) {
        added(block); // the old block is still there
        return nullptr;
    }
    added(grown);
    return grown;
}

void free(void *block)
{
    removed(block);
    __libc_free(block);
}

void *memalign(size_t alignment, size_t size)
{
    void *block = __libc_memalign(alignment, size);
    added(block);
    return block;
}

void *aligned_alloc(size_t alignment, size_t size)
{
    return memalign(alignment, size);
}

int posix_memalign(void **out, size_t alignment, size_t size)
{
    void *block = memalign(alignment, size);
    if (block == nullptr) {
        return ENOMEM;
    }
    *out = block;
    return 0;
}

} // extern "C"
