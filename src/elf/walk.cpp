#include "elf/walk.h"

#include <algorithm>
#include <cstdio>

bool identified(image_view image, const char* input)
{
    if (check_elf_header(image))
        return true;
    std::fputs("check ELF header error\n", stdout);
    const auto starts_with = [&](std::span<const std::uint8_t> magic) {
        return image.size() >= magic.size() && std::equal(magic.begin(), magic.end(), image.begin());
    };
    if (starts_with(MODULE_MAGIC))
        std::printf("%s: not a 32-bit ELF file: it starts with the module magic 7f 4f 56 4b, so it is a module "
                    "image already welded; give the file the linker wrote\n",
                    input);
    else if (!starts_with(std::span(ELFMAG).first(std::min(image.size(), ELFMAG.size()))))
        std::printf("%s: not a 32-bit ELF file: it does not start with the ELF magic 7f 45 4c 46 (a raw binary, "
                    "as objcopy -O binary writes, has no symbols or relocations): give the ELF file\n",
                    input);
    else if (image.size() <= EI_CLASS)
        std::printf("%s: not a 32-bit ELF file: it holds %zu of the 5 bytes that identify one\n", input, image.size());
    else if (image[EI_CLASS] == ELFCLASS64)
        std::printf("%s: not a 32-bit ELF file: it is a 64-bit ELF file (EI_CLASS 2), not one for a 32-bit ARM "
                    "core\n",
                    input);
    else
        std::printf("%s: not a 32-bit ELF file: EI_CLASS is %u, where a 32-bit ELF file has 1\n", input,
                    unsigned{image[EI_CLASS]});
    return false;
}

std::optional<image_walk> open_walk(image_view image, const char* input)
{
    const std::optional<Elf32_Ehdr> ehdr = read_record<Elf32_Ehdr>(image, 0);
    if (!ehdr) {
        std::printf("%s: ELF header is truncated (%zu bytes, the header takes %zu)\n", input, image.size(),
                    sizeof(Elf32_Ehdr));
        return std::nullopt;
    }
    const std::optional<record_table<Elf32_Shdr>> sections = section_table(image, *ehdr);
    if (!sections) {
        std::printf("%s: section header table at 0x%x with %u entries is outside the file (%zu bytes)\n", input,
                    unsigned{ehdr->e_shoff}, unsigned{ehdr->e_shnum}, image.size());
        return std::nullopt;
    }
    return image_walk{image, input, *sections, make_walk_budget(image)};
}

bool contents_inside(const image_walk& walk, std::uint32_t index, const Elf32_Shdr& section)
{
    if (section.sh_size == 0 || range_inside(walk.image.size(), section.sh_offset, section.sh_size))
        return true;
    std::printf("%s: section %u: sh_offset 0x%x + sh_size 0x%x is outside the file (%zu bytes)\n", walk.input,
                index, unsigned{section.sh_offset}, unsigned{section.sh_size}, walk.image.size());
    return false;
}

bool admit_section(image_walk& walk, std::uint32_t index, const Elf32_Shdr& section)
{
    if (!contents_inside(walk, index, section))
        return false;
    if (section.sh_size <= walk.budget.contents_left) {
        walk.budget.contents_left -= section.sh_size;
        return true;
    }
    std::printf("%s: section %u: sh_size 0x%x would make the sections walked so far larger than the file "
                "(%zu bytes); they overlap\n",
                walk.input, index, unsigned{section.sh_size}, walk.image.size());
    return false;
}

std::optional<Elf32_Shdr> linked_section(const image_walk& walk, std::uint32_t from, std::uint32_t sh_link)
{
    if (sh_link < walk.sections.size())
        return walk.sections[sh_link];
    std::printf("%s: section %u: sh_link %u names no section (e_shnum %u)\n", walk.input, from, sh_link,
                walk.sections.size());
    return std::nullopt;
}

std::optional<std::string_view> read_symbol_name(image_walk& walk, const Elf32_Shdr& strtab, std::uint32_t st_name,
                                                 symbol_place place)
{
    walk_budget& budget = walk.budget;
    if (budget.names_left == 0) // said when it ran out
        return std::nullopt;
    const std::optional<std::string_view> text = read_name(walk.image, strtab, st_name, budget.names_left);
    if (text && pay_for_name(walk, *text)) // found within what is left, so always paid
        return text;
    const std::uint64_t start = std::uint64_t{strtab.sh_offset} + st_name;
    const std::uint64_t scanned = start < walk.image.size() ? walk.image.size() - start : 0;
    if (scanned > budget.names_left) {
        budget.names_left = 0;
        std::printf("%s: section %u symbol %u: the names read take more than %llu bytes (the file's size + "
                    "%llu MiB); no more names are read\n",
                    walk.input, place.section, place.index,
                    static_cast<unsigned long long>(walk.image.size() + NAME_ALLOWANCE),
                    static_cast<unsigned long long>(NAME_ALLOWANCE >> 20));
        return std::nullopt;
    }
    budget.names_left -= scanned;
    std::printf("%s: section %u symbol %u: name at st_name 0x%x %s\n", walk.input, place.section, place.index,
                st_name, scanned != 0 ? "runs to the end of the file without a NUL" : "is outside the file");
    return std::nullopt;
}

bool pay_for_name(image_walk& walk, std::string_view name)
{
    if (name.size() >= walk.budget.names_left)
        return false;
    walk.budget.names_left -= name.size() + 1;
    return true;
}
