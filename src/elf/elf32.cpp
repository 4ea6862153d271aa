#include "elf/elf32.h"

#include <array>

namespace {

constexpr std::array<std::uint8_t, 4> ELF_MAGIC = {0x7f, 'E', 'L', 'F'};

std::uint64_t symbol_offset(const Elf32_Shdr& symtab, std::uint32_t index)
{
    return std::uint64_t{symtab.sh_offset} + std::uint64_t{index} * ELF32_SYM_SIZE;
}

} // namespace

bool check_elf_header(image_view image)
{
    return starts_with(image, ELF_MAGIC) && read_u8(image, EI_CLASS) == ELFCLASS32;
}

std::optional<Elf32_Ehdr> read_elf_header(image_view image)
{
    if (image.size() < ELF32_EHDR_SIZE)
        return std::nullopt;
    return Elf32_Ehdr{*read_u32(image, 32), *read_u16(image, 48)};
}

// A table of no entries, like a section of no bytes, has nothing to read: wherever its offset
// points, it is not outside the file.
bool section_table_inside(image_view image, const Elf32_Ehdr& ehdr)
{
    return ehdr.e_shnum == 0 || range_inside(image.size(), ehdr.e_shoff, std::uint64_t{ehdr.e_shnum} * ELF32_SHDR_SIZE);
}

std::optional<Elf32_Shdr> read_section_header(image_view image, const Elf32_Ehdr& ehdr,
                                              std::uint32_t index)
{
    const std::uint64_t at = std::uint64_t{ehdr.e_shoff} + std::uint64_t{index} * ELF32_SHDR_SIZE;
    if (index >= ehdr.e_shnum || !range_inside(image.size(), at, ELF32_SHDR_SIZE))
        return std::nullopt;
    return Elf32_Shdr{*read_u32(image, at + 4),  *read_u32(image, at + 16), *read_u32(image, at + 20),
                      *read_u32(image, at + 24), *read_u32(image, at + 8),  *read_u32(image, at + 12)};
}

bool section_contents_inside(image_view image, const Elf32_Shdr& shdr)
{
    return shdr.sh_size == 0 || range_inside(image.size(), shdr.sh_offset, shdr.sh_size);
}

std::optional<image_view> section_contents(image_view image, const Elf32_Shdr& shdr)
{
    return read_range(image, shdr.sh_offset, shdr.sh_size);
}

std::optional<Elf32_Sym> read_symbol(image_view image, const Elf32_Shdr& symtab, std::uint32_t index)
{
    if (index >= symbol_count(symtab))
        return std::nullopt;
    const std::optional<fixed_record<ELF32_SYM_SIZE>> sym =
        read_record<ELF32_SYM_SIZE>(image, symbol_offset(symtab, index));
    if (!sym)
        return std::nullopt;
    return decode_symbol(*sym);
}

record_ref symbol_record(image_view image, const Elf32_Shdr& symtab, std::uint32_t index)
{
    if (index >= symbol_count(symtab))
        return nullptr;
    return record_at(image, symbol_offset(symtab, index), ELF32_SYM_SIZE);
}

std::uint32_t referenced_st_value(record_ref symbol)
{
    return record_u32(symbol, 4);
}

std::optional<Elf32_Rel> read_relocation(image_view image, const Elf32_Shdr& rel, std::uint32_t index)
{
    if (index >= relocation_count(rel))
        return std::nullopt;
    const std::uint64_t at = std::uint64_t{rel.sh_offset} + std::uint64_t{index} * ELF32_REL_SIZE;
    const std::optional<fixed_record<ELF32_REL_SIZE>> r = read_record<ELF32_REL_SIZE>(image, at);
    if (!r)
        return std::nullopt;
    return Elf32_Rel{field_u32<0>(*r), field_u32<4>(*r)};
}

std::optional<std::string_view> read_name(image_view image, const Elf32_Shdr& strtab,
                                          std::uint32_t st_name, std::uint64_t max_scan)
{
    return read_string(image, std::uint64_t{strtab.sh_offset} + st_name, max_scan);
}
