// What both stages' walks carry, and the checks of what a walk reads. Each decides whether the
// next thing can be read and, when not, prints the one line that says so (the input, section,
// entry, field and numbers), and the walk passes over it.
#pragma once

#include "elf/budgets.h"
#include "elf/elf32.h"

#include <cstdint>
#include <optional>
#include <string_view>

// The inputs, as the lines name them.
constexpr const char* LINK_FILE = "link file";
constexpr const char* LINKED_IMAGE = "linked image";

struct image_walk {
    image_view image;
    const char* input;                 // LINK_FILE or LINKED_IMAGE
    record_table<Elf32_Shdr> sections; // the whole section header table, inside the image
    walk_budget budget;
};

// True when `image` passes check_elf_header; otherwise false after "check ELF header error"
// and the line that says why it is not a 32-bit ELF file.
bool identified(image_view image, const char* input);

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

// Where a symbol is, for the line about its name.
struct symbol_place {
    std::uint32_t section; // its symbol section
    std::uint32_t index;   // in that section
};

// The name of the symbol at `place`, at `st_name` in `strtab`, paid for from the walk's budget:
// NUL-terminated where it lies. Absent after the line that says why (none once the budget's end
// has been said).
std::optional<std::string_view> read_symbol_name(image_walk& walk, const Elf32_Shdr& strtab, std::uint32_t st_name,
                                                 symbol_place place);

// Pays for `name`, read ahead in place, as every name read is paid for. False, and nothing paid,
// when the budget does not cover it (read_symbol_name then says so).
bool pay_for_name(image_walk& walk, std::string_view name);
