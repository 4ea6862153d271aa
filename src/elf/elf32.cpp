#include "elf/elf32.h"

bool check_elf_header(image_view image)
{
    return starts_with(image, ELFMAG) && read_u8(image, EI_CLASS) == ELFCLASS32;
}

std::optional<std::string_view> read_name(image_view image, const Elf32_Shdr& strtab, std::uint32_t st_name,
                                          std::uint64_t max_scan)
{
    return read_string(image, std::uint64_t{strtab.sh_offset} + st_name, max_scan);
}
