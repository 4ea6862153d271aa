// The checks of the stages' walks. Each decides whether what the walk needs next can be read,
// or a slot written, and when not prints the one line that says so: for a record, the input
// ("link file: " or "linked image: "), the section, the entry, the field and the numbers. The
// walk then passes over what the line names.
#pragma once

#include "elf/budgets.h"
#include "elf/build_attributes.h"
#include "elf/elf32.h"
#include "elf/slot_layout.h"
#include "symtab/hash_table.h"

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

// What a walk over one input carries.
struct image_walk {
    image_view image;
    const char* input;                 // "link file" or "linked image"
    record_table<Elf32_Shdr> sections; // the whole section header table, inside the image
    walk_budget budget;
};

// A walk over `image`, once its ELF header is whole and its section header table lies
// inside it.
std::optional<image_walk> open_walk(image_view image, const char* input);

// True when section `index`'s contents lie inside the image.
bool contents_inside(const image_walk& walk, std::uint32_t index, const Elf32_Shdr& section);

// Takes section `index`, one of the kind the stage walks, into the walk: true, and its size
// paid from the walk's budget, when it lies inside the image and the sections walked so far,
// this one included, are no larger than the image.
bool admit_section(image_walk& walk, std::uint32_t index, const Elf32_Shdr& section);

// The records of a section taken into the walk.
template <file_record Record>
std::optional<record_table<Record>> walked_records(image_walk& walk, std::uint32_t index, const Elf32_Shdr& section)
{
    if (!admit_section(walk, index, section))
        return std::nullopt;
    return section_records<Record>(walk.image, section);
}

// The section that section `from` names by its sh_link.
std::optional<Elf32_Shdr> linked_section(const image_walk& walk, std::uint32_t from, std::uint32_t sh_link);

// A symbol's name, read from its string section and paid for from the walk's budget. The
// link-file stage reads names ahead of entering them; so a name that cannot be read keeps
// why, for report_symbol_name to say when its symbol is reached.
enum class name_problem {
    none,
    outside,      // st_name points past the end of the file
    no_nul,       // the name runs to the end of the file
    over_budget,  // this name used up what was left of the budget
    budget_spent, // the budget ran out at an earlier name
};
struct symbol_name {
    std::optional<std::string_view> text; // NUL-terminated where it lies
    name_problem problem = name_problem::none;
    std::uint32_t st_name = 0;
};
symbol_name read_symbol_name(image_walk& walk, const Elf32_Shdr& strtab, std::uint32_t st_name);

// The line for symbol `symbol` of section `section` whose name could not be read; none for a
// name that was read, nor after the budget's end has been said once.
void report_symbol_name(const image_walk& walk, const symbol_name& name, std::uint32_t section, std::uint32_t symbol);

// The module stage's checks, in the order it meets them for each jump slot.

// A REL section being walked, and the sections its entries lead to (whatever their types).
struct rel_section {
    std::uint32_t index;
    record_table<Elf32_Rel> relocations;
    std::uint32_t symtab_index;
    Elf32_Shdr symtab;
    Elf32_Shdr strtab;
};

// The prefix of the module stage's own lines.
constexpr const char* LINKED_IMAGE = "linked image";

// Relocation j's symbol, number `symbol` of the symbol section: absent, after a line, when
// that is past the section's end or the record is outside the image.
std::optional<Elf32_Sym> slot_symbol(const image_walk& walk, const rel_section& rel, std::uint32_t j,
                                     std::uint32_t symbol);

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
    target_core core = target_core::any;
    bool plt_reported = false;
};
struct jump_slot {
    std::uint32_t r_offset;
    std::string_view name; // NUL-terminated
    std::uint32_t value;
};
// True when `slot` may be written; false after the line that says why (for a PLT the core
// cannot run, the line comes once).
bool slot_writable(image_view image, slot_rules& rules, const jump_slot& slot);

// True unless the module and the target pass floating-point arguments in different registers
// (both files must state it); false after the line that says so.
bool float_args_agree(const build_attributes& target, const build_attributes& module);
