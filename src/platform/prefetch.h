// A hint that the cache line at an address is wanted soon: the walks over a million names
// wait on cache misses, and asking early hides most of them (see elf/read_ahead.h).
// Off (-DMODWELD_READ_AHEAD=OFF), or where the compiler has no such hint, it is nothing.
#pragma once

#if defined(MODWELD_READ_AHEAD)
constexpr bool READ_AHEAD = true;
#else
constexpr bool READ_AHEAD = false;
#endif

template <bool for_write = false>
inline void prefetch([[maybe_unused]] const void* address)
{
#if defined(__GNUC__)
    if constexpr (READ_AHEAD)
        __builtin_prefetch(address, for_write ? 1 : 0);
#endif
}
