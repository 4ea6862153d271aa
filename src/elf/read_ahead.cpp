#include "elf/read_ahead.h"

#include "platform/prefetch.h"

namespace {

// A hint reads a name only this far: a crafted name without a NUL must not cost a scan of the
// file for every symbol.
constexpr std::uint64_t HINT_NAME_SCAN = 256;

void read_name_and_bucket(image_view image, const Elf32_Shdr& strtab, std::uint32_t st_name, const hash_table* table,
                          name_ahead& ahead)
{
    ahead.bucket = -1;
    if (!READ_AHEAD || table == nullptr || table->bucket_count <= 0)
        return;
    const std::optional<std::string_view> name = read_name(image, strtab, st_name, HINT_NAME_SCAN);
    if (!name)
        return;
    ahead.name = *name;
    ahead.bucket = hash_table_index(table, *name);
}

// The bucket of relocation j's name, if it is a jump slot whose symbol and name can be read.
std::int32_t bucket_of_slot(const slot_hints& hints, std::uint32_t j)
{
    if (j >= hints.rel.relocations.size())
        return -1;
    const Elf32_Rel r = hints.rel.relocations[j];
    if (elf32_r_type(r.r_info) != R_ARM_JUMP_SLOT)
        return -1;
    const std::optional<Elf32_Sym> sym = read_symbol(hints.image, hints.rel.symtab, elf32_r_sym(r.r_info));
    if (!sym || sym->st_value != 0)
        return -1;
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
    if (ahead.bucket >= 0)
        hash_table_prefetch(table, ahead.bucket);
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
    std::int32_t& far = hints.buckets[j % HINT_DISTANCE]; // j's own is no longer needed
    far = bucket_of_slot(hints, j + HINT_DISTANCE);
    if (far >= 0)
        hash_table_prefetch(hints.functions, far);
    if (const std::int32_t middle = hints.buckets[(j + CHAIN_DISTANCE) % HINT_DISTANCE]; middle >= 0)
        hash_table_prefetch_chain(hints.functions, middle);
    if (const std::int32_t near = hints.buckets[(j + SYMBOL_DISTANCE) % HINT_DISTANCE]; near >= 0)
        hash_table_prefetch_value(hints.functions, near);
}
