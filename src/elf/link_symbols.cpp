#include "elf/link_symbols.h"

#include "cli/debug_flag.h"
#include "elf/section_walk.h"

#include <cstdio>

hash_table* symbol_table = nullptr;

namespace {

constexpr const char* INPUT = "link file";

// Functions are taken in batches: their names are prefetched, then hashed, then their buckets
// prefetched, before the first of them is entered. At a million functions the buckets and
// names are far bigger than the caches; reading ahead took the whole run from 216 to 135 ms
// (16 or 64 at a time did no better).
constexpr std::uint32_t BATCH = 32;

struct function_symbol {
    std::uint32_t symbol;
    std::uint32_t st_name;
    symbol_name_read name;
    std::int32_t bucket;
};

// Enters the function symbols of symbol section `index`; the section's contents are known
// to lie inside the image. The names of a batch are read and hashed first; then each is
// traced and entered in symbol table order, as if one at a time.
int enter_functions(image_view image, const Elf32_Shdr& symtab, const Elf32_Shdr& strtab,
                    std::uint32_t index, walk_budget& budget)
{
    int result = STAGE_OK;
    const std::uint32_t count = symbol_count(symtab);
    const image_view symbols = section_contents(image, symtab).value_or(image_view{});
    function_symbol batch[BATCH];
    for (std::uint32_t j = 0; j < count;) {
        // The next BATCH functions: ask for their names first, then hash them once they are
        // on their way, then ask for their buckets.
        std::uint32_t found = 0;
        for (; j < count && found < BATCH; ++j) {
            const std::optional<fixed_record<ELF32_SYM_SIZE>> record =
                read_record<ELF32_SYM_SIZE>(symbols, std::uint64_t{j} * ELF32_SYM_SIZE);
            const Elf32_Sym sym = record ? decode_symbol(*record) : Elf32_Sym{};
            if (elf32_st_type(sym.st_info) != STT_FUNC)
                continue;
            batch[found++] = {j, sym.st_name, {std::nullopt, name_status::ok}, 0};
            prefetch_bytes(image, std::uint64_t{strtab.sh_offset} + sym.st_name);
        }
        for (std::uint32_t k = 0; k < found; ++k) {
            function_symbol& f = batch[k];
            f.name = read_symbol_name(image, strtab, f.st_name, budget);
            if (f.name.name) {
                f.bucket = hash_table_index(symbol_table, *f.name.name);
                hash_table_prefetch(symbol_table, f.bucket);
            }
        }
        for (std::uint32_t k = 0; k < found; ++k) {
            const function_symbol& f = batch[k];
            if (!f.name.name) {
                report_symbol_name(f.name, image, f.st_name, index, f.symbol, INPUT);
                result = STAGE_FAILED;
                continue;
            }
            const std::string_view name = *f.name.name;
            if (debug_flag == 1)
                std::printf("hash_table_insert symbol %s \n", name.data());
            if (hash_table_insert_at(symbol_table, f.bucket, name, symbol_record(image, symtab, f.symbol)) != 0) {
                std::fputs("out of memory\n", stdout);
                return STAGE_OUT_OF_MEMORY;
            }
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
