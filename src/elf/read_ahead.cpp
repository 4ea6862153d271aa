#include "elf/read_ahead.h"

#include "platform/prefetch.h"

namespace {

// A hint reads a name only this far: a crafted name without a NUL must not cost a scan of the
// file for every symbol.
constexpr std::uint64_t HINT_NAME_SCAN = 256;

void read_name_and_bucket(image_view image, const Elf32_Shdr& strtab, std::uint32_t st_name, const hash_table* table,
                          name_ahead& ahead)
{
    ahead.bucket.reset();
    if (!READ_AHEAD || table == nullptr || table->bucket_count <= 0)
        return;
    const std::optional<std::string_view> name = read_name(image, strtab, st_name, HINT_NAME_SCAN);
    if (!name)
        return;
    ahead.name = *name;
    ahead.bucket = hash_table_index(table, *name);
}

// The bucket of relocation j's name, if it is a jump slot whose symbol and name can be read.
std::optional<std::int32_t> bucket_of_slot(const slot_hints& hints, std::uint32_t j)
{
    if (j >= hints.rel.relocations.size())
        return std::nullopt;
    const Elf32_Rel r = hints.rel.relocations[j];
    if (elf32_r_type(r.r_info) != R_ARM_JUMP_SLOT)
        return std::nullopt;
    const std::optional<Elf32_Sym> sym = read_symbol(hints.image, hints.rel.symtab, elf32_r_sym(r.r_info));
    if (!sym || sym->st_value != 0)
        return std::nullopt;
    name_ahead ahead;
    read_name_and_bucket(hints.image, hints.rel.strtab, sym->st_name, hints.functions, ahead);
    return ahead.bucket;
}

} // namespace

void prefetch_image(image_view image, std::uint64_t offset)
{
    if (offset < image.size())
        prefetch(image.data() + offset);
}

void read_name_ahead(image_view image, const Elf32_Shdr& strtab, std::uint32_t st_name, const hash_table* table,
                     name_ahead& ahead)
{
    read_name_and_bucket(image, strtab, st_name, table, ahead);
    if (ahead.bucket)
        hash_table_prefetch(table, *ahead.bucket);
}

void start_slot_hints(slot_hints& hints)
{
    for (std::uint32_t k = 0; k < HINT_DISTANCE; ++k)
        hints.buckets[k] = bucket_of_slot(hints, k);
}

void hint_slots_ahead(slot_hints& hints, std::uint32_t j)
{
    if (!READ_AHEAD)
        return;
    // j's own bucket is no longer needed: its place takes relocation j + HINT_DISTANCE's.
    std::optional<std::int32_t>& bucket_hint = hints.buckets[j % HINT_DISTANCE];
    bucket_hint = bucket_of_slot(hints, j + HINT_DISTANCE);
    if (bucket_hint)
        hash_table_prefetch(hints.functions, *bucket_hint);
    if (const std::optional<std::int32_t> chain_hint = hints.buckets[(j + CHAIN_DISTANCE) % HINT_DISTANCE])
        hash_table_prefetch_chain(hints.functions, *chain_hint);
    if (const std::optional<std::int32_t> symbol_hint = hints.buckets[(j + SYMBOL_DISTANCE) % HINT_DISTANCE])
        hash_table_prefetch_value(hints.functions, *symbol_hint);
}
