// Memory advice for the few big blocks of a run (the input buffers, the buckets, the entry
// arena). Only advice: where the platform has no such thing, or refuses it, nothing changes.
#pragma once

#include <cstddef>

// Asks for [start, start + size) to be backed by huge pages where it can be. On the 2-core
// benchmark machine a first touch of a 4 KiB page cost microseconds, and the faults of a
// million-function run's 200 MiB were most of its time; with 2 MiB pages they vanish.
void advise_huge_pages(void* start, std::size_t size);
