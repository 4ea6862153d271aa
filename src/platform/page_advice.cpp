#include "platform/page_advice.h"

#include <cstdint>

#if defined(MODWELD_HUGE_PAGES) && defined(__linux__)
#include <sys/mman.h>
#endif

void advise_huge_pages([[maybe_unused]] void* start, [[maybe_unused]] std::size_t size)
{
#if defined(MODWELD_HUGE_PAGES) && defined(__linux__) && defined(MADV_HUGEPAGE)
    // Only whole 2 MiB pages inside the block can be huge; smaller blocks are left alone.
    constexpr std::uintptr_t HUGE_PAGE = std::uintptr_t{1} << 21;
    const auto from = (reinterpret_cast<std::uintptr_t>(start) + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
    const auto to = (reinterpret_cast<std::uintptr_t>(start) + size) & ~(HUGE_PAGE - 1);
    if (to > from)
        madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#endif
}
