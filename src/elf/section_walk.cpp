#include "elf/section_walk.h"

#include <cstdio>

std::optional<Elf32_Ehdr> open_section_table(image_view image, const char* input)
{
    const std::optional<Elf32_Ehdr> ehdr = read_elf_header(image);
    if (!ehdr) {
        std::printf("%s: ELF header is truncated (%zu bytes, the header takes %zu)\n", input,
                    image.size(), ELF32_EHDR_SIZE);
        return std::nullopt;
    }
    if (!section_table_inside(image, *ehdr)) {
        std::printf("%s: section header table at 0x%x with %u entries is outside the file (%zu bytes)\n",
                    input, ehdr->e_shoff, unsigned{ehdr->e_shnum}, image.size());
        return std::nullopt;
    }
    return ehdr;
}

Elf32_Shdr section_at(image_view image, const Elf32_Ehdr& ehdr, std::uint32_t index)
{
    return read_section_header(image, ehdr, index).value_or(Elf32_Shdr{});
}

std::optional<Elf32_Shdr> linked_section(image_view image, const Elf32_Ehdr& ehdr, std::uint32_t from,
                                         std::uint32_t sh_link, const char* input)
{
    const std::optional<Elf32_Shdr> linked = read_section_header(image, ehdr, sh_link);
    if (!linked)
        std::printf("%s: section %u: sh_link %u names no section (e_shnum %u)\n", input, from, sh_link,
                    unsigned{ehdr.e_shnum});
    return linked;
}

bool contents_inside(image_view image, const Elf32_Shdr& shdr, std::uint32_t index, const char* input)
{
    if (section_contents_inside(image, shdr))
        return true;
    std::printf("%s: section %u: sh_offset 0x%x + sh_size 0x%x is outside the file (%zu bytes)\n", input,
                index, shdr.sh_offset, shdr.sh_size, image.size());
    return false;
}

walk_budget make_walk_budget(image_view image)
{
    return walk_budget{image.size(), image.size() + NAME_ALLOWANCE};
}

bool take_contents(walk_budget& budget, image_view image, const Elf32_Shdr& shdr, std::uint32_t index,
                   const char* input)
{
    if (shdr.sh_size <= budget.contents_left) {
        budget.contents_left -= shdr.sh_size;
        return true;
    }
    std::printf("%s: section %u: sh_size 0x%x would make the sections walked so far larger than the file "
                "(%zu bytes); they overlap\n",
                input, index, shdr.sh_size, image.size());
    return false;
}

symbol_name_read read_symbol_name(image_view image, const Elf32_Shdr& strtab, std::uint32_t st_name,
                                  walk_budget& budget)
{
    if (budget.names_left == 0)
        return {std::nullopt, name_status::budget_spent};
    const std::optional<std::string_view> name = read_name(image, strtab, st_name, budget.names_left);
    if (name) {
        budget.names_left -= name->size() + 1;
        return {name, name_status::ok};
    }
    const std::uint64_t start = std::uint64_t{strtab.sh_offset} + st_name;
    const std::uint64_t scanned = start < image.size() ? image.size() - start : 0;
    if (scanned > budget.names_left) {
        budget.names_left = 0;
        return {std::nullopt, name_status::over_budget};
    }
    budget.names_left -= scanned;
    return {std::nullopt, scanned != 0 ? name_status::no_nul : name_status::outside};
}

void report_symbol_name(const symbol_name_read& read, image_view image, std::uint32_t st_name,
                        std::uint32_t section, std::uint32_t symbol, const char* input)
{
    switch (read.status) {
    case name_status::ok:
    case name_status::budget_spent: // said once, when it ran out
        return;
    case name_status::over_budget:
        std::printf("%s: section %u symbol %u: the names read take more than %llu bytes (the file's size + "
                    "64 MiB); no more names are read\n",
                    input, section, symbol, static_cast<unsigned long long>(image.size() + NAME_ALLOWANCE));
        return;
    case name_status::no_nul:
    case name_status::outside:
        std::printf("%s: section %u symbol %u: name at st_name 0x%x %s\n", input, section, symbol, st_name,
                    read.status == name_status::no_nul ? "runs to the end of the file without a NUL"
                                                       : "is outside the file");
        return;
    }
}
