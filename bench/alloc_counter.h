// Heap accounting for the benchmarks: the program interposes malloc and
// friends, and counts what the calling thread allocates while a scope is
// open. Blocks freed by other threads are not seen.
#ifndef VEK_BENCH_ALLOC_COUNTER_H
#define VEK_BENCH_ALLOC_COUNTER_H

#include <cstddef>
#include <cstdint>

namespace vekbench
{

struct HeapUse {
    std::size_t peakBytes = 0; // highest live bytes above the start of the scope
    std::uint64_t allocations = 0;
    // Still allocated at the end of the scope, net of what it freed
    // (blocks from before the scope included).
    long long liveBytes = 0;
};

// Counts the allocations of this thread from construction to finish().
class HeapScope
{
  public:
    HeapScope();
    ~HeapScope();
    HeapScope(const HeapScope &) = delete;
    HeapScope &operator=(const HeapScope &) = delete;
    HeapUse finish();

  private:
    bool open_ = true;
};

} // namespace vekbench

#endif // VEK_BENCH_ALLOC_COUNTER_H
