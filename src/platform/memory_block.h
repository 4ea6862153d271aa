// Blocks for the few big buffers of a run (the input buffers, the buckets, the entry
// arena): placed so that the system can back them with huge pages where it has them.
#pragma once

#include <cstddef>

struct memory_block {
    void* base = nullptr;  // for free_block: what the heap handed out, or the mapping the block was cut from
    void* start = nullptr; // the caller's bytes; nullptr when nothing could be had
    bool mapped = false;   // cut from a mapping of huge pages
};

// At least `size` bytes (zero-filled when `zeroed`), or a block whose start is nullptr.
// A first touch of a 4 KiB page costs about 1.5 us on the 2-core benchmark machine, and of a
// 2 MiB huge page about 110 us; so on Linux a block of 320 KiB or more is cut from a mapping
// advised to use huge pages, after the blocks cut from it before (see memory_block.cpp).
// Elsewhere, and for smaller blocks, it is plain heap memory.
memory_block allocate_block(std::size_t size, bool zeroed);

// Gives a block back; a mapping goes back to the system with the last block cut from it.
void free_block(memory_block block);
