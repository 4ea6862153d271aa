#include "platform/memory_block.h"

#include <cstdint>
#include <cstdlib>

#if defined(MODWELD_HUGE_PAGES) && defined(__linux__)
#include <sys/mman.h>
#if defined(MADV_HUGEPAGE)
#define MODWELD_MAPS_HUGE_PAGES
#endif
#endif

#if defined(MODWELD_MAPS_HUGE_PAGES)
namespace {

// From 320 KiB on, a huge page's first touch costs less than the block's 4 KiB pages'.
constexpr std::size_t HUGE_PAGE = std::size_t{1} << 21, HUGE_PAGES_FROM = std::size_t{320} << 10;

// A fresh mapping is zero. Its block starts on a 2 MiB boundary, which only huge pages map.
memory_block map_block(std::size_t size)
{
    if (size > SIZE_MAX - 2 * HUGE_PAGE)
        return {};
    const std::size_t length = (size + 2 * HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
    void* base = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (base == MAP_FAILED)
        return {};
    const auto start = (reinterpret_cast<std::uintptr_t>(base) + HUGE_PAGE - 1) & ~std::uintptr_t{HUGE_PAGE - 1};
    madvise(reinterpret_cast<void*>(start), length - (start - reinterpret_cast<std::uintptr_t>(base)), MADV_HUGEPAGE);
    return {base, reinterpret_cast<void*>(start), length};
}

} // namespace
#endif

memory_block allocate_block(std::size_t size, bool zeroed)
{
#if defined(MODWELD_MAPS_HUGE_PAGES)
    if (size >= HUGE_PAGES_FROM) {
        const memory_block block = map_block(size);
        if (block.start != nullptr)
            return block;
    }
#endif
    // Where no mapping could be had (address space capped, say), the heap.
    void* base = zeroed ? std::calloc(size == 0 ? 1 : size, 1) : std::malloc(size == 0 ? 1 : size);
    return {base, base, 0};
}

void free_block(memory_block block)
{
#if defined(MODWELD_MAPS_HUGE_PAGES)
    if (block.mapped != 0) {
        munmap(block.base, block.mapped);
        return;
    }
#endif
    std::free(block.base);
}
