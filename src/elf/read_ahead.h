// Reading ahead: the stages ask for the cache lines of what they will need a few names later,
// the names, their buckets, the chains' first entries and the symbols those refer to. A hint
// reads without paying from the walk's budget and prints nothing; what the link-file stage
// takes from one is what its own checked read would give. So hints change how long a walk
// takes, not what it does: -DMODWELD_READ_AHEAD=OFF builds them as nothing, and the test
// suite passes either way.
#pragma once

#include "elf/walk.h"
#include "symtab/hash_table.h"

#include <cstdint>
#include <optional>
#include <string_view>

// Asks for the cache line of byte `offset` of the image, if it lies inside.
void prefetch_image(image_view image, std::uint64_t offset);

// The link-file stage: the name at `st_name` in `strtab` and its bucket, whose line is asked
// for; no bucket when the hint could not read the name or hints are off. The stage pays for
// such a name from its walk's budget before it enters it (see pay_for_name).
struct name_ahead {
    std::string_view name;              // NUL-terminated where it lies; meaningless without a bucket
    std::optional<std::int32_t> bucket; // none: no name read
};
void read_name_ahead(image_view image, const Elf32_Shdr& strtab, std::uint32_t st_name, const hash_table* table,
                     name_ahead& ahead);

// The module stage, relocation by relocation. While relocation j is handled, the hints ask for
// the bucket of relocation j + 16's name, the newest entry of relocation j + 8's chain, and the
// link file's symbol that entry refers to for relocation j + 4: at a million functions a lookup
// otherwise waited for three cache misses in turn (bucket, entry, symbol), and the stage took
// 68 ms instead of 45.
constexpr std::uint32_t HINT_DISTANCE = 16, CHAIN_DISTANCE = 8, SYMBOL_DISTANCE = 4;
struct slot_hints {
    image_view image;
    const rel_section& rel;
    const hash_table* functions;
    std::optional<std::int32_t> buckets[HINT_DISTANCE]; // of relocation k at k % HINT_DISTANCE
};

// Hints for the first relocations of a section.
void start_slot_hints(slot_hints& hints);
// Hints while relocation j is handled.
void hint_slots_ahead(slot_hints& hints, std::uint32_t j);
