#include "platform/memory_block.h"

#include <cstdint>
#include <cstdlib>

#if defined(MODWELD_HUGE_PAGES) && defined(__linux__)
#include <sys/mman.h>
#endif

memory_block allocate_block(std::size_t size, bool zeroed)
{
#if defined(MODWELD_HUGE_PAGES) && defined(__linux__) && defined(MADV_HUGEPAGE)
    // Big enough for whole huge pages to matter: a block of its own whole 2 MiB pages, so
    // that no page of it was touched with 4 KiB pages before the advice (the heap writes its
    // own header at the base). Untouched slack costs address space only.
    constexpr std::size_t HUGE_PAGE = std::size_t{1} << 21;
    if (size >= HUGE_PAGE / 2 && size <= SIZE_MAX - 2 * HUGE_PAGE) {
        const std::size_t span = (size + HUGE_PAGE - 1) / HUGE_PAGE * HUGE_PAGE;
        void* base = zeroed ? std::calloc(span + HUGE_PAGE, 1) : std::malloc(span + HUGE_PAGE);
        if (base == nullptr)
            return {};
        const auto at = (reinterpret_cast<std::uintptr_t>(base) + HUGE_PAGE) & ~std::uintptr_t{HUGE_PAGE - 1};
        void* start = reinterpret_cast<void*>(at);
        madvise(start, span, MADV_HUGEPAGE);
        return {base, start};
    }
#endif
    void* base = zeroed ? std::calloc(size == 0 ? 1 : size, 1) : std::malloc(size == 0 ? 1 : size);
    return {base, base};
}

void free_block(memory_block block)
{
    std::free(block.base);
}
