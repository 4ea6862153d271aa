// Checks shared by the two stages while they walk an image's sections. Each prints one
// line naming the input ("link file" or "linked image"), what is wrong and the numbers,
// and tells the caller to pass over what cannot be read.
#pragma once

#include "elf/elf32.h"

#include <cstdint>
#include <optional>

// What one stage's walk may cost on a crafted image, so that the work and the memory stay
// in proportion to the image. Sections of the kind walked never overlap in a well-formed
// image, so together they fit in it. Names may share bytes (a name can be the tail of
// another, and duplicates share one string), hence the allowance on top of the size:
// without it, a million symbols pointing into one long NUL-free run cost a million scans
// and copies of that run.
struct walk_budget {
    std::uint64_t contents_left; // bytes of walked sections' contents
    std::uint64_t names_left;    // bytes of names read, NULs and failed scans included
};
constexpr std::uint64_t NAME_ALLOWANCE = 64u << 20;
walk_budget make_walk_budget(image_view image);

// Takes section `index`'s contents from the budget; false, after a line, when the sections
// walked so far would add up to more than the image.
bool take_contents(walk_budget& budget, image_view image, const Elf32_Shdr& shdr, std::uint32_t index,
                   const char* input);

// The ELF header, once the whole section header table is known to lie inside the image.
std::optional<Elf32_Ehdr> open_section_table(image_view image, const char* input);

// Section header `index`, which the caller knows to be in the table.
Elf32_Shdr section_at(image_view image, const Elf32_Ehdr& ehdr, std::uint32_t index);

// The section that section `from` names by its sh_link.
std::optional<Elf32_Shdr> linked_section(image_view image, const Elf32_Ehdr& ehdr, std::uint32_t from,
                                         std::uint32_t sh_link, const char* input);

// True when section `index`'s contents lie inside the image.
bool contents_inside(image_view image, const Elf32_Shdr& shdr, std::uint32_t index, const char* input);

// Reading one symbol's name, paid for from `budget`. Nothing is printed: a stage that reads
// names ahead reports them with report_symbol_name when it reaches them, in symbol order.
enum class name_status {
    ok,
    outside,      // st_name points past the end of the file
    no_nul,       // the name runs to the end of the file
    over_budget,  // this name used up what was left of the budget
    budget_spent, // the budget ran out at an earlier name
};
struct symbol_name_read {
    std::optional<std::string_view> name;
    name_status status;
};
symbol_name_read read_symbol_name(image_view image, const Elf32_Shdr& strtab, std::uint32_t st_name,
                                  walk_budget& budget);

// One line for a name that could not be read (none once the budget has been reported spent).
void report_symbol_name(const symbol_name_read& read, image_view image, std::uint32_t st_name,
                        std::uint32_t section, std::uint32_t symbol, const char* input);
