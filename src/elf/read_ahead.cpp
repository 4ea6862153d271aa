#include "elf/read_ahead.h"

#include "elf/link_symbols.h"
#include "platform/prefetch.h"

namespace {

#if defined(MODWELD_READ_AHEAD)
constexpr bool HINTS = true;
#else
constexpr bool HINTS = false;
#endif

// A hint reads a name only this far: a crafted name without a NUL must not cost a scan of the
// file for every relocation.
constexpr std::uint64_t HINT_NAME_SCAN = 256;

// The bucket of relocation j's name, if it is a jump slot whose symbol and name can be read.
std::int32_t bucket_of(const slot_hints& hints, std::uint32_t j)
{
    if (j >= hints.rel.relocations.size() || symbol_table == nullptr || symbol_table->bucket_count <= 0)
        return -1;
    const Elf32_Rel r = hints.rel.relocations[j];
    if (elf32_r_type(r.r_info) != R_ARM_JUMP_SLOT)
        return -1;
    const std::optional<Elf32_Sym> sym = read_symbol(hints.image, hints.rel.symtab, elf32_r_sym(r.r_info));
    if (!sym || sym->st_value != 0)
        return -1;
    const std::optional<std::string_view> name = read_name(hints.image, hints.rel.strtab, sym->st_name, HINT_NAME_SCAN);
    return name ? hash_table_index(symbol_table, *name) : -1;
}

} // namespace

void prefetch_image(image_view image, std::uint64_t offset)
{
    if (HINTS && offset < image.size())
        prefetch(image.data() + offset);
}

void prefetch_bucket(const hash_table* table, std::int32_t index)
{
    if (HINTS)
        hash_table_prefetch(table, index);
}

void start_slot_hints(slot_hints& hints)
{
    for (std::uint32_t k = 0; k < HINT_DISTANCE; ++k)
        hints.buckets[k] = HINTS ? bucket_of(hints, k) : -1;
}

void hint_slots_ahead(slot_hints& hints, std::uint32_t j)
{
    if (!HINTS)
        return;
    std::int32_t& far = hints.buckets[j % HINT_DISTANCE]; // j's own is no longer needed
    far = bucket_of(hints, j + HINT_DISTANCE);
    if (far >= 0)
        hash_table_prefetch(symbol_table, far);
    if (const std::int32_t middle = hints.buckets[(j + CHAIN_DISTANCE) % HINT_DISTANCE]; middle >= 0)
        hash_table_prefetch_chain(symbol_table, middle);
    if (const std::int32_t near = hints.buckets[(j + SYMBOL_DISTANCE) % HINT_DISTANCE]; near >= 0)
        hash_table_prefetch_value(symbol_table, near);
}
