// Where a jump slot really is. r_offset is its address, and the slot is written at that file
// offset: the same place only in a section whose address is its file offset. Elsewhere a slot
// would be written at the wrong place while the run reported success.
#pragma once

#include "elf/elf32.h"

#include <cstdint>
#include <vector>

// An allocated section with file contents whose address differs from its file offset.
struct misplaced_section {
    std::uint64_t end; // sh_addr + sh_size
    std::uint32_t index;
    std::uint32_t sh_addr;
    std::uint32_t sh_offset;
    std::uint32_t furthest; // of the sections sorted up to this one, the one that ends last
};

// The misplaced sections among `sections`, sorted for misplaced_section_at. False when memory
// for the list cannot be had.
bool find_misplaced_sections(const record_table<Elf32_Shdr>& sections, std::vector<misplaced_section>& found);

// The misplaced section whose address range holds `address`, or nullptr.
const misplaced_section* misplaced_section_at(const std::vector<misplaced_section>& sections,
                                              std::uint32_t address);
