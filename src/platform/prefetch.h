// A hint that the cache line at an address is wanted soon: the walks over a million names
// wait on cache misses, and asking early hides most of them (measured in read_ahead.h and
// link_symbols.cpp). Where the compiler has no such hint, nothing.
#pragma once

template <bool for_write = false>
inline void prefetch(const void* address)
{
#if defined(__GNUC__)
    __builtin_prefetch(address, for_write ? 1 : 0);
#else
    (void)address;
#endif
}
