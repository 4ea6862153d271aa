// Reading ahead: the link-file stage asks for the cache lines of the names and buckets it will
// need a few functions later. A hint reads without paying from the walk's budget and prints
// nothing, and what the stage takes from one is what its own checked read would give: hints
// change how long the walk takes, not what it does (-DMODWELD_READ_AHEAD=OFF builds them as
// nothing, and the test suite passes either way).
#pragma once

#include "elf/elf32.h"
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
