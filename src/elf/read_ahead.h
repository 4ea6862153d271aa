// Prefetch hints: asking for cache lines a walk will need a little later. Their results are
// used for nothing but the prefetch, so they can never change what a walk reads, writes or
// prints, only how long it takes; -DMODWELD_READ_AHEAD=OFF builds them as nothing, and the
// test suite passes either way.
#pragma once

#include "elf/checks.h"
#include "symtab/hash_table.h"

#include <cstdint>

// Asks for the cache line of byte `offset` of the image, if it lies inside.
void prefetch_image(image_view image, std::uint64_t offset);

// Asks for bucket `index` of the table.
void prefetch_bucket(const hash_table* table, std::int32_t index);

// The module stage, relocation by relocation. While relocation j is handled, the hints ask for
// the bucket of relocation j + 16's name, the newest entry of relocation j + 8's chain, and the
// link file's symbol that entry refers to for relocation j + 4: at a million functions a lookup
// otherwise waited for three cache misses in turn (bucket, entry, symbol). Measured in-process
// at a million functions: the module stage took 68 ms without hints and 45 ms with them (the
// batch it replaced, which used what it read ahead and read again whatever a slot write had
// overlapped, took 40 ms).
constexpr std::uint32_t HINT_DISTANCE = 16, CHAIN_DISTANCE = 8, SYMBOL_DISTANCE = 4;
struct slot_hints {
    image_view image;
    const rel_section& rel;
    std::int32_t buckets[HINT_DISTANCE]; // of relocation k at k % HINT_DISTANCE; -1 for none
};

// Hints for the first relocations of a section.
void start_slot_hints(slot_hints& hints);
// Hints while relocation j is handled.
void hint_slots_ahead(slot_hints& hints, std::uint32_t j);
