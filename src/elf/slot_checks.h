// The checks a jump slot goes through in the module stage, in the order the stage meets
// them; each decides and prints its own line.
#pragma once

#include "elf/checks.h"
#include "elf/core_profile.h"
#include "elf/slot_layout.h"
#include "symtab/hash_table.h"

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

// A REL section being walked, and the sections its entries lead to (whatever their types).
struct rel_section {
    std::uint32_t index;
    record_table<Elf32_Rel> relocations;
    std::uint32_t symtab_index;
    Elf32_Shdr symtab;
    Elf32_Shdr strtab;
};

// Relocation j's symbol, `index` of the symbol section: absent, after a line, when the
// index is past the section's end or the record is outside the image.
std::optional<Elf32_Sym> slot_symbol(const image_walk& walk, const rel_section& rel, std::uint32_t j,
                                     std::uint32_t index);

// The lookups of one run and what they may still cost (see lookup_limit).
struct slot_lookups {
    std::uint64_t limit;
    lookup_budget budget;
    bool reported = false;
};

// The st_value of the link file's function called `name`, needed by relocation j; absent,
// after "relocate symbol NAME failed" or (once) the line saying that the lookups cost too much.
std::optional<std::uint32_t> look_up_value(slot_lookups& lookups, const rel_section& rel, std::uint32_t j,
                                           std::string_view name);

// Where a slot may be written: inside the image, clear of the module magic, at a place whose
// address is its file offset, and not leading to a PLT that the target's core cannot run.
struct slot_rules {
    std::vector<misplaced_section> misplaced;
    core_profile target = core_profile::unstated;
    bool arm_plt_reported = false;
};
struct jump_slot {
    std::uint32_t r_offset;
    std::string_view name; // NUL-terminated
    std::uint32_t value;
};
// True when `slot` may be written; false after the line that says why (for an ARM PLT, the
// line comes once).
bool slot_writable(image_view image, slot_rules& rules, const jump_slot& slot);
