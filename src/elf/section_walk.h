// Checks shared by the two stages while they walk an image's sections. Each prints one
// line naming the input ("link file" or "linked image"), what is wrong and the numbers,
// and tells the caller to pass over what cannot be read.
#pragma once

#include "elf/elf32.h"

#include <optional>

// The ELF header, once the whole section header table is known to lie inside the image.
std::optional<Elf32_Ehdr> open_section_table(image_view image, const char* input);

// Section header `index`, which the caller knows to be in the table.
Elf32_Shdr section_at(image_view image, const Elf32_Ehdr& ehdr, std::uint32_t index);

// The section that section `from` names by its sh_link.
std::optional<Elf32_Shdr> linked_section(image_view image, const Elf32_Ehdr& ehdr, std::uint32_t from,
                                         std::uint32_t sh_link, const char* input);

// True when section `index`'s contents lie inside the image.
bool contents_inside(image_view image, const Elf32_Shdr& shdr, std::uint32_t index, const char* input);

// The name of symbol `symbol` of section `section`, read from `strtab`.
std::optional<std::string_view> symbol_name(image_view image, const Elf32_Shdr& strtab,
                                            std::uint32_t st_name, std::uint32_t section,
                                            std::uint32_t symbol, const char* input);
