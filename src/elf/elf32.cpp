#include "elf/elf32.h"

#include <algorithm>

bool check_elf_header(image_view image)
{
    const auto ident = read_record<std::array<std::uint8_t, EI_CLASS + 1>>(image, 0);
    return ident && std::equal(ELFMAG.begin(), ELFMAG.end(), ident->begin()) && (*ident)[EI_CLASS] == ELFCLASS32;
}

std::optional<std::string_view> read_name(image_view image, const Elf32_Shdr& strtab, std::uint32_t st_name,
                                          std::uint64_t max_scan)
{
    return read_string(image, std::uint64_t{strtab.sh_offset} + st_name, max_scan);
}
