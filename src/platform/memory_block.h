// Heap blocks for the few big buffers of a run (the input buffers, the buckets, the entry
// arena): placed so that the system can back them with huge pages where it has them.
#pragma once

#include <cstddef>

struct memory_block {
    void* base = nullptr;  // what the heap handed out, for free_block
    void* start = nullptr; // the caller's bytes; nullptr when nothing could be had
};

// At least `size` bytes (zero-filled when `zeroed`), or a block whose start is nullptr.
// A first touch of a 4 KiB page costs about 1.5 us on the 2-core benchmark machine, and of a
// 2 MiB huge page about 110 us; so on Linux a block of 320 KiB or more starts on a 2 MiB
// boundary and is advised to use huge pages (see memory_block.cpp). Elsewhere, and for
// smaller blocks, it is plain heap memory.
memory_block allocate_block(std::size_t size, bool zeroed);

void free_block(memory_block block);
