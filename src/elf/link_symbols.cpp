#include "elf/link_symbols.h"

#include "cli/debug_flag.h"
#include "elf/checks.h"
#include "elf/read_ahead.h"

#include <cstdio>

hash_table* symbol_table = nullptr;

namespace {

constexpr const char* INPUT = "link file";

// Functions are entered in batches of 32, in three phases: select the batch's functions and
// ask for their names; read and hash the names and ask for their buckets; then trace and
// enter each in symbol order, as if one at a time. At a million functions the buckets and names
// are far bigger than the caches: measured in-process, the stage took 125 ms without the
// prefetches and 83 ms with them (16 or 64 at a time did no better than 32). Nothing is written
// before the last phase, so reading ahead changes no result here.
constexpr std::uint32_t BATCH = 32;

struct function_symbol {
    std::uint32_t index; // in its symbol section
    symbol_name name;    // st_name until phase 2 reads it
    std::int32_t bucket;
};

struct function_batch {
    function_symbol functions[BATCH];
    std::uint32_t count = 0;
};

// One symbol section being entered.
struct symbol_section {
    image_walk& walk;
    std::uint32_t index;
    record_table<Elf32_Sym> symbols;
    Elf32_Shdr strtab;
};

// Phase 1: the next functions from symbol `next` on, which moves past them.
void select_functions(const symbol_section& s, std::uint32_t& next, function_batch& batch)
{
    batch.count = 0;
    for (; next < s.symbols.size() && batch.count < BATCH; ++next) {
        const Elf32_Sym sym = s.symbols[next];
        if (elf32_st_type(sym.st_info) != STT_FUNC)
            continue;
        batch.functions[batch.count++] = {next, {std::nullopt, name_problem::none, sym.st_name}, 0};
        prefetch_image(s.walk.image, std::uint64_t{s.strtab.sh_offset} + sym.st_name);
    }
}

// Phase 2: their names, read in symbol order and paid for from the walk's budget.
void hash_names(symbol_section& s, function_batch& batch)
{
    for (std::uint32_t k = 0; k < batch.count; ++k) {
        function_symbol& f = batch.functions[k];
        f.name = read_symbol_name(s.walk, s.strtab, f.name.st_name);
        if (f.name.text) {
            f.bucket = hash_table_index(symbol_table, *f.name.text);
            prefetch_bucket(symbol_table, f.bucket);
        }
    }
}

// Phase 3: in symbol order, the line for a name that could not be read, or the trace line and
// the entry.
stage_result enter_batch(const symbol_section& s, const function_batch& batch)
{
    stage_result result = stage_result::ok;
    for (std::uint32_t k = 0; k < batch.count; ++k) {
        const function_symbol& f = batch.functions[k];
        if (!f.name.text) {
            report_symbol_name(s.walk, f.name, s.index, f.index);
            result = stage_result::failed;
            continue;
        }
        if (debug_flag == 1)
            std::printf("hash_table_insert symbol %s \n", f.name.text->data());
        if (hash_table_insert_at(symbol_table, f.bucket, *f.name.text, s.symbols.address(f.index)) != 0) {
            std::fputs("out of memory\n", stdout);
            return stage_result::out_of_memory;
        }
    }
    return result;
}

// A fresh table of twice as many buckets as the section has entries (the null entry counted).
// The count is bounded by the image's size: the section's contents lie inside it.
bool start_table(std::uint32_t entries)
{
    // A later symbol table section starts afresh; nothing refers to the table it replaces.
    if (symbol_table != nullptr)
        hash_table_destroy(symbol_table);
    symbol_table = hash_table_create(static_cast<std::int32_t>(2 * entries));
    if (symbol_table != nullptr)
        return true;
    std::fputs("out of memory\n", stdout);
    return false;
}

stage_result enter_symbol_section(image_walk& walk, std::uint32_t index, const Elf32_Shdr& symtab)
{
    const std::optional<record_table<Elf32_Sym>> symbols = walked_records<Elf32_Sym>(walk, index, symtab);
    if (!symbols)
        return stage_result::failed;
    const std::optional<Elf32_Shdr> strtab = linked_section(walk, index, symtab.sh_link);
    if (!strtab || !contents_inside(walk, symtab.sh_link, *strtab))
        return stage_result::failed;
    if (!start_table(symbols->size()))
        return stage_result::out_of_memory;

    symbol_section s{walk, index, *symbols, *strtab};
    stage_result result = stage_result::ok;
    function_batch batch;
    for (std::uint32_t next = 0; next < s.symbols.size();) {
        select_functions(s, next, batch);
        hash_names(s, batch);
        const stage_result entered = enter_batch(s, batch);
        if (entered == stage_result::out_of_memory)
            return entered;
        if (entered == stage_result::failed)
            result = entered;
    }
    return result;
}

} // namespace

stage_result collect_link_symbols(image_view image)
{
    if (!check_elf_header(image)) {
        std::fputs("check ELF header error\n", stdout);
        return stage_result::failed;
    }
    std::optional<image_walk> walk = open_walk(image, INPUT);
    if (!walk)
        return stage_result::failed;

    stage_result result = stage_result::ok;
    for (std::uint32_t i = 0; i < walk->sections.size(); ++i) {
        const Elf32_Shdr section = walk->sections[i];
        if (section.sh_type != SHT_SYMTAB)
            continue;
        const stage_result entered = enter_symbol_section(*walk, i, section);
        if (entered == stage_result::out_of_memory)
            return entered;
        if (entered == stage_result::failed)
            result = entered;
    }
    return result;
}

std::uint32_t referenced_st_value(const void* symbol)
{
    return record_at<Elf32_Sym>(symbol).st_value;
}
