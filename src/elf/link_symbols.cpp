#include "elf/link_symbols.h"

#include "elf/read_ahead.h"
#include "elf/walk.h"

#include <cstdio>

hash_table* symbol_table = nullptr;

namespace {

// Functions are entered in batches, in three phases: select the batch's functions and ask for
// their names; read each name ahead and ask for its bucket; then, in symbol order, pay for each
// name, trace it and enter it. At a million functions the buckets and names are far bigger
// than the caches: reading ahead took the stage from 125 to 83 ms there.
constexpr std::uint32_t BATCH = 32;

struct function_symbol {
    std::uint32_t index; // in its symbol section
    std::uint32_t st_name;
    name_ahead ahead;
};

struct function_batch {
    function_symbol functions[BATCH];
    std::uint32_t count = 0;
};

// What the walk over the link file carries from section to section.
struct link_walk {
    image_walk walk;
    hash_table*& table; // the caller's, filled in place
    bool trace;
};

// One symbol section being entered.
struct symbol_section {
    std::uint32_t index;
    record_table<Elf32_Sym> symbols;
    Elf32_Shdr strtab;
};

// Phase 1: the next functions from symbol `next` on, which moves past them. Every symbol is
// written to the batch and counted only if it is a function: a branch on the type, taken or
// not as the symbols fall, cost more in mispredictions.
void select_functions(const link_walk& link, const symbol_section& section, std::uint32_t& next,
                      function_batch& batch)
{
    batch.count = 0;
    for (; next < section.symbols.size() && batch.count < BATCH; ++next) {
        const Elf32_Sym sym = section.symbols[next];
        batch.functions[batch.count] = {next, sym.st_name, {}};
        batch.count += elf32_st_type(sym.st_info) == STT_FUNC;
    }
    for (std::uint32_t k = 0; k < batch.count; ++k)
        prefetch_image(link.walk.image, std::uint64_t{section.strtab.sh_offset} + batch.functions[k].st_name);
}

// Phase 2: their names and buckets, read ahead; none once the walk may read no more names.
void read_names_ahead(const link_walk& link, const symbol_section& section, function_batch& batch)
{
    if (link.walk.budget.names_left == 0)
        return;
    for (std::uint32_t k = 0; k < batch.count; ++k) {
        function_symbol& f = batch.functions[k];
        read_name_ahead(link.walk.image, section.strtab, f.st_name, link.table, f.ahead);
    }
}

// The name of function `f`: the one read ahead once paid for, else read and checked.
std::optional<std::string_view> name_of(link_walk& link, const symbol_section& section, const function_symbol& f)
{
    if (f.ahead.bucket && pay_for_name(link.walk, f.ahead.name))
        return f.ahead.name;
    return read_symbol_name(link.walk, section.strtab, f.st_name, {section.index, f.index});
}

// Phase 3: in symbol order, the name, then the trace line and the entry.
stage_result enter_batch(link_walk& link, const symbol_section& section, const function_batch& batch)
{
    stage_result result = stage_result::ok;
    for (std::uint32_t k = 0; k < batch.count; ++k) {
        const function_symbol& f = batch.functions[k];
        const std::optional<std::string_view> name = name_of(link, section, f);
        if (!name) {
            result = stage_result::failed;
            continue;
        }
        if (link.trace)
            std::printf("hash_table_insert symbol %s \n", name->data());
        const std::int32_t bucket = f.ahead.bucket ? *f.ahead.bucket : hash_table_index(link.table, *name);
        if (hash_table_insert_at(link.table, bucket, *name, section.symbols.address(f.index)) != 0) {
            std::fputs("out of memory\n", stdout);
            return stage_result::out_of_memory;
        }
    }
    return result;
}

// A fresh table of twice as many buckets as the section has entries (the null entry counted).
// The count is bounded by the image's size: the section's contents lie inside it.
bool start_table(hash_table*& table, std::uint32_t entries)
{
    // A later symbol table section starts afresh; nothing refers to the table it replaces.
    if (table != nullptr)
        hash_table_destroy(table);
    table = hash_table_create(static_cast<std::int32_t>(2 * entries));
    if (table != nullptr)
        return true;
    std::fputs("out of memory\n", stdout);
    return false;
}

stage_result enter_symbol_section(link_walk& link, std::uint32_t index, const Elf32_Shdr& symtab)
{
    const std::optional<record_table<Elf32_Sym>> symbols = walked_records<Elf32_Sym>(link.walk, index, symtab);
    if (!symbols)
        return stage_result::failed;
    const std::optional<Elf32_Shdr> strtab = linked_section(link.walk, index, symtab.sh_link);
    if (!strtab || !contents_inside(link.walk, symtab.sh_link, *strtab))
        return stage_result::failed;
    if (!start_table(link.table, symbols->size()))
        return stage_result::out_of_memory;

    const symbol_section section{index, *symbols, *strtab};
    stage_result result = stage_result::ok;
    function_batch batch;
    for (std::uint32_t next = 0; next < section.symbols.size();) {
        select_functions(link, section, next, batch);
        read_names_ahead(link, section, batch);
        const stage_result entered = enter_batch(link, section, batch);
        if (entered == stage_result::out_of_memory)
            return entered;
        if (entered == stage_result::failed)
            result = entered;
    }
    return result;
}

} // namespace

stage_result collect_link_symbols(image_view link_file, hash_table*& table, bool trace)
{
    if (!identified(link_file, LINK_FILE))
        return stage_result::failed;
    const std::optional<image_walk> walk = open_walk(link_file, LINK_FILE);
    if (!walk)
        return stage_result::failed;

    link_walk link{*walk, table, trace};
    stage_result result = stage_result::ok;
    for (std::uint32_t i = 0; i < link.walk.sections.size(); ++i) {
        const Elf32_Shdr section = link.walk.sections[i];
        if (section.sh_type != SHT_SYMTAB)
            continue;
        const stage_result entered = enter_symbol_section(link, i, section);
        if (entered == stage_result::out_of_memory)
            return entered;
        if (entered == stage_result::failed)
            result = entered;
    }
    return result;
}
