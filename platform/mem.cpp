// Heap services: malloc/realloc with a count of live blocks and a failure
// injection switch for tests.
#include <atomic>
#include <cstdlib>

#include "vek_platform_ctl.h"

namespace
{
std::atomic<uint32_t> g_liveBlocks{0};
// Number of allocations still allowed to succeed; negative means no limit.
std::atomic<int32_t> g_allocBudget{-1};

bool allocationAllowed()
{
    int32_t budget = g_allocBudget.load();
    while (budget >= 0) {
        if (budget == 0) {
            return false;
        }
        if (g_allocBudget.compare_exchange_weak(budget, budget - 1)) {
            return true;
        }
    }
    return true;
}
} // namespace

extern "C" {

void *ghVekMgrModHdl = nullptr;

void *ZU_MEM_MallocEx(void * /*module*/, size_t size, const char * /*file*/, int /*line*/)
{
    if (!allocationAllowed()) {
        return nullptr;
    }
    void *block = std::malloc(size == 0 ? 1 : size);
    if (block != nullptr) {
        ++g_liveBlocks;
    }
    return block;
}

void *ZU_MEM_RallocEx(void *module, void *block, size_t size, const char *file, int line)
{
    if (block == nullptr) {
        return ZU_MEM_MallocEx(module, size, file, line);
    }
    if (!allocationAllowed()) {
        return nullptr;
    }
    return std::realloc(block, size == 0 ? 1 : size);
}

void ZU_MEM_FreeEx(void **pp, const char * /*file*/, int /*line*/)
{
    if (pp == nullptr || *pp == nullptr) {
        return;
    }
    std::free(*pp);
    *pp = nullptr;
    --g_liveBlocks;
}

uint32_t VEK_PLAT_GetLiveBlocks(void)
{
    return g_liveBlocks.load();
}

void VEK_PLAT_FailAllocAfter(int32_t n)
{
    g_allocBudget.store(n < 0 ? -1 : n);
}

} // extern "C"
