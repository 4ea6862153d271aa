#pragma once
// For tests that run out of memory on purpose, in a child process (Linux only).
#include <cstdio>
#include <optional>

#include <sys/resource.h>

// Caps this process's address space at what it maps now plus `headroom` bytes. Returns the
// limit that was in force before, or nothing when the current size cannot be read.
inline std::optional<rlimit> cap_address_space(unsigned long headroom)
{
    rlimit before{};
    getrlimit(RLIMIT_AS, &before);
    FILE* statm = std::fopen("/proc/self/statm", "r");
    unsigned long pages = 0;
    const bool read = statm != nullptr && std::fscanf(statm, "%lu", &pages) == 1;
    if (statm != nullptr)
        std::fclose(statm);
    if (!read)
        return std::nullopt;
    rlimit capped = before;
    capped.rlim_cur = pages * 4096 + headroom;
    setrlimit(RLIMIT_AS, &capped);
    return before;
}
