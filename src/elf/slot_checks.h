// The module stage's checks, in the order it meets them for each jump slot: the slot's
// symbol, the function of its name in the link file, and where the slot may be written. Each
// decides and, when the slot cannot be filled, prints the line that says why.
#pragma once

#include "elf/build_attributes.h"
#include "elf/misplaced_sections.h"
#include "elf/walk.h"
#include "symtab/hash_table.h"

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

// What the walk over the linked image carries from slot to slot.
struct module_walk {
    image_walk walk;
    const hash_table* functions;             // the link file's, by name; nullptr when it gave none
    lookup_budget lookups;                   // what looking names up may still cost (see lookup_limit)
    bool lookups_reported = false;           // the line that they cost too much has been printed
    std::vector<misplaced_section> misplaced; // where a slot would be written at the wrong place
    target_core core = target_core::any;      // the link file's: which PLTs it runs
    bool plt_reported = false;                // the line about a PLT it cannot run has been printed
    bool trace = false;                       // a line for every slot before it is written
    bool stripped_link_file = false;          // an ELF file without a symbol table section
    bool stripped_reported = false;           // the line that says so has been printed
    std::uint32_t slots_to_fill = 0;          // jump slots whose symbols have no value
};

// A REL section being walked, and the sections its entries lead to (whatever their types).
struct rel_section {
    std::uint32_t index;
    record_table<Elf32_Rel> relocations;
    std::uint32_t symtab_index;
    Elf32_Shdr symtab;
    Elf32_Shdr strtab;
};

// Relocation j's symbol, number `symbol` of the symbol section: absent, after a line, when
// that is past the section's end or the record is outside the image.
std::optional<Elf32_Sym> slot_symbol(const module_walk& m, const rel_section& rel, std::uint32_t j,
                                     std::uint32_t symbol);

// The st_value of the link file's function called `name`, needed by relocation j; absent,
// after "relocate symbol NAME failed" (the first one after the line saying that the link file
// has no symbol table section, where that is why) or (once) the line saying that the lookups
// cost too much.
std::optional<std::uint32_t> look_up_value(module_walk& m, const rel_section& rel, std::uint32_t j,
                                           std::string_view name);

struct jump_slot {
    std::uint32_t r_offset;
    std::string_view name; // NUL-terminated
    std::uint32_t value;
};

// True when `slot` may be written: inside the image, clear of the module magic, at a place
// whose address is its file offset, and not leading to a PLT that the target's core cannot
// run. False after the line that says why (for such a PLT, the line comes once).
bool slot_writable(module_walk& m, const jump_slot& slot);

// The PLT that a jump slot's value, as the linker left it for lazy binding, leads to: both
// linkers leave the PLT header's address there (GNU ld with bit 0 set for a Thumb PLT, ld.lld
// without), and the header's first word tells its instruction set.
enum class plt_state { unknown, arm, thumb2 };
plt_state plt_state_at(image_view image, std::uint32_t slot_value);

// True unless the module and the target pass floating-point arguments in different registers
// (both files must say how); false after the line that says so.
bool float_args_agree(const build_attributes& target, const build_attributes& module);
