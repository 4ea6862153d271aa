// The checks of a walk over one input, shared by both stages. Each decides whether what the
// walk needs next can be read and, when it cannot, prints the one line that says so: the
// input ("link file: " or "linked image: "), the section, the entry, the field and the
// numbers. The walk then passes over what the line names.
#pragma once

#include "elf/budgets.h"
#include "elf/elf32.h"

#include <cstdint>
#include <optional>
#include <string_view>

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

// True when section `index`, one of the kind the stage walks, lies inside the image and the
// sections walked so far, this one included, are no larger than the image.
bool walkable(image_walk& walk, std::uint32_t index, const Elf32_Shdr& section);

// The records of a walkable section.
template <file_record Record>
std::optional<record_table<Record>> walked_records(image_walk& walk, std::uint32_t index, const Elf32_Shdr& section)
{
    if (!walkable(walk, index, section))
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
