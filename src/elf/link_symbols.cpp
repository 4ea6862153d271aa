#include "elf/link_symbols.h"

#include "elf/read_ahead.h"
#include "elf/walk.h"

#include <cstdio>

hash_table* symbol_table = nullptr;

namespace {

// Functions are entered in batches of 32, in three phases: select the batch's functions and
// ask for their names; read each name ahead and ask for its bucket; then, in symbol order,
// pay for each name, trace it and enter it. At a million functions the
// buckets and names are far bigger than the caches: measured in-process, the stage took 125 ms
// without reading ahead and 83 ms with it (16 or 64 at a time did no better than 32).
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
    link_walk& link;
    std::uint32_t index;
    record_table<Elf32_Sym> symbols;
    Elf32_Shdr strtab;
};

// Phase 1: the next functions from symbol `next` on, which moves past them. Each symbol is
// written to the batch and counted only if it is a function: a branch on the type, taken or
// not as the symbols fall, cost more in mispredictions (the link-file stage, in-process at
// 100k functions: 5.9 -> 5.7 ms).
void select_functions(const symbol_section& s, std::uint32_t& next, function_batch& batch)
{
    batch.count = 0;
    for (; next < s.symbols.size() && batch.count < BATCH; ++next) {
        const Elf32_Sym sym = s.symbols[next];
        batch.functions[batch.count] = {next, sym.st_name, {{}, -1}};
        batch.count += elf32_st_type(sym.st_info) == STT_FUNC;
    }
    for (std::uint32_t k = 0; k < batch.count; ++k)
        prefetch_image(s.link.walk.image, std::uint64_t{s.strtab.sh_offset} + batch.functions[k].st_name);
}

// Phase 2: their names and buckets, read ahead; none once the walk may read no more names.
void read_names_ahead(const symbol_section& s, function_batch& batch)
{
    if (s.link.walk.budget.names_left == 0)
        return;
    for (std::uint32_t k = 0; k < batch.count; ++k)
        read_name_ahead(s.link.walk.image, s.strtab, batch.functions[k].st_name, s.link.table, batch.functions[k].ahead);
}

// Phase 3: in symbol order, the name paid for (or read and checked), then the trace line and
// the entry.
stage_result enter_batch(symbol_section& s, const function_batch& batch)
{
    stage_result result = stage_result::ok;
    for (std::uint32_t k = 0; k < batch.count; ++k) {
        const function_symbol& f = batch.functions[k];
        const bool ahead = f.ahead.bucket >= 0;
        const std::optional<std::string_view> name =
            ahead && pay_for_name(s.link.walk, f.ahead.name)
                ? f.ahead.name
                : read_symbol_name(s.link.walk, s.strtab, f.st_name, {s.index, f.index});
        if (!name) {
            result = stage_result::failed;
            continue;
        }
        if (s.link.trace)
            std::printf("hash_table_insert symbol %s \n", name->data());
        const std::int32_t bucket = ahead ? f.ahead.bucket : hash_table_index(s.link.table, *name);
        if (hash_table_insert_at(s.link.table, bucket, *name, s.symbols.address(f.index)) != 0) {
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

stage_result enter_symbol_section(link_walk& l, std::uint32_t index, const Elf32_Shdr& symtab)
{
    const std::optional<record_table<Elf32_Sym>> symbols = walked_records<Elf32_Sym>(l.walk, index, symtab);
    if (!symbols)
        return stage_result::failed;
    const std::optional<Elf32_Shdr> strtab = linked_section(l.walk, index, symtab.sh_link);
    if (!strtab || !contents_inside(l.walk, symtab.sh_link, *strtab))
        return stage_result::failed;
    if (!start_table(l.table, symbols->size()))
        return stage_result::out_of_memory;

    symbol_section s{l, index, *symbols, *strtab};
    stage_result result = stage_result::ok;
    function_batch batch;
    for (std::uint32_t next = 0; next < s.symbols.size();) {
        select_functions(s, next, batch);
        read_names_ahead(s, batch);
        const stage_result entered = enter_batch(s, batch);
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

    link_walk l{*walk, table, trace};
    stage_result result = stage_result::ok;
    for (std::uint32_t i = 0; i < l.walk.sections.size(); ++i) {
        const Elf32_Shdr section = l.walk.sections[i];
        if (section.sh_type != SHT_SYMTAB)
            continue;
        const stage_result entered = enter_symbol_section(l, i, section);
        if (entered == stage_result::out_of_memory)
            return entered;
        if (entered == stage_result::failed)
            result = entered;
    }
    return result;
}
