#include "elf/link_symbols.h"

#include "cli/debug_flag.h"
#include "elf/section_walk.h"

#include <cstdio>

hash_table* symbol_table = nullptr;

namespace {

constexpr const char* INPUT = "link file";

// Enters the function symbols of symbol section `index`; the section's contents are known
// to lie inside the image.
int enter_functions(image_view image, const Elf32_Shdr& symtab, const Elf32_Shdr& strtab,
                    std::uint32_t index, walk_budget& budget)
{
    int result = STAGE_OK;
    const std::uint32_t count = symbol_count(symtab);
    for (std::uint32_t j = 0; j < count; ++j) {
        const Elf32_Sym sym = read_symbol(image, symtab, j).value_or(Elf32_Sym{});
        if (elf32_st_type(sym.st_info) != STT_FUNC)
            continue;
        const std::optional<std::string_view> name =
            symbol_name(image, strtab, sym.st_name, index, j, INPUT, budget);
        if (!name) {
            result = STAGE_FAILED;
            continue;
        }
        if (debug_flag == 1)
            std::printf("hash_table_insert symbol %s \n", name->data());
        if (hash_table_insert(symbol_table, name->data(), symbol_record(image, symtab, j)) != 0) {
            std::fputs("out of memory\n", stdout);
            return STAGE_OUT_OF_MEMORY;
        }
    }
    return result;
}

} // namespace

int collect_link_symbols(image_view image)
{
    if (!check_elf_header(image)) {
        std::fputs("check ELF header error\n", stdout);
        return STAGE_FAILED;
    }
    const std::optional<Elf32_Ehdr> ehdr = open_section_table(image, INPUT);
    if (!ehdr)
        return STAGE_FAILED;

    int result = STAGE_OK;
    walk_budget budget = make_walk_budget(image);
    for (std::uint32_t i = 0; i < ehdr->e_shnum; ++i) {
        const Elf32_Shdr symtab = section_at(image, *ehdr, i);
        if (symtab.sh_type != SHT_SYMTAB)
            continue;
        if (!contents_inside(image, symtab, i, INPUT) || !take_contents(budget, image, symtab, i, INPUT)) {
            result = STAGE_FAILED;
            continue;
        }
        const std::optional<Elf32_Shdr> strtab = linked_section(image, *ehdr, i, symtab.sh_link, INPUT);
        if (!strtab || !contents_inside(image, *strtab, symtab.sh_link, INPUT)) {
            result = STAGE_FAILED;
            continue;
        }
        // A later symbol table section starts afresh; nothing refers to the table it replaces.
        if (symbol_table != nullptr)
            hash_table_destroy(symbol_table);
        // The bucket count is bounded by the image's size: the contents were checked above.
        symbol_table = hash_table_create(static_cast<std::int32_t>(2 * symbol_count(symtab)));
        if (symbol_table == nullptr) {
            std::fputs("out of memory\n", stdout);
            return STAGE_OUT_OF_MEMORY;
        }
        const int entered = enter_functions(image, symtab, *strtab, i, budget);
        if (entered == STAGE_OUT_OF_MEMORY)
            return entered;
        if (entered != STAGE_OK)
            result = entered;
    }
    return result;
}
