// Blocks for the few big buffers of a run (the input buffers, the buckets, the entry
// arena): placed so that the system can back them with huge pages where it has them.
#pragma once

#include <cstddef>

struct memory_block {
    void* base = nullptr;  // what the heap or the mapping handed out, for free_block
    void* start = nullptr; // the caller's bytes; nullptr when nothing could be had
    std::size_t mapped = 0; // the mapping's length; 0 for heap memory
};

// At least `size` bytes (zero-filled when `zeroed`), or a block whose start is nullptr. On
// Linux a block of 320 KiB or more is a mapping of its own, advised to use huge pages: a first
// touch of a 4 KiB page costs about 1.5 us, of a 2 MiB page about 110 us. Elsewhere, and for
// smaller blocks, it is heap memory.
memory_block allocate_block(std::size_t size, bool zeroed);

void free_block(memory_block block);
