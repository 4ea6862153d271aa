#include "fuzz_support.h"

#include "elf/elf32.h"
#include "elf/link_symbols.h"
#include "elf/relocate.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

void silence_stdout()
{
    if (std::freopen("/dev/null", "w", stdout) == nullptr)
        std::abort();
}

void reset_symbol_table()
{
    if (symbol_table != nullptr)
        hash_table_destroy(symbol_table);
    symbol_table = nullptr;
}

void require(bool condition, const char* what)
{
    if (condition)
        return;
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

namespace {

// r_offset of every R_ARM_JUMP_SLOT entry of every readable SHT_REL section.
void collect_slots(image_view image, std::vector<std::uint32_t>& slots)
{
    const std::optional<Elf32_Ehdr> ehdr = read_elf_header(image);
    if (!ehdr || !section_table_inside(image, *ehdr))
        return;
    for (std::uint32_t i = 0; i < ehdr->e_shnum; ++i) {
        const std::optional<Elf32_Shdr> rel = read_section_header(image, *ehdr, i);
        if (!rel || rel->sh_type != SHT_REL || !section_contents_inside(image, *rel))
            continue;
        for (std::uint32_t j = 0; j < relocation_count(*rel); ++j) {
            const std::optional<Elf32_Rel> r = read_relocation(image, *rel, j);
            if (r && elf32_r_type(r->r_info) == R_ARM_JUMP_SLOT)
                slots.push_back(r->r_offset);
        }
    }
}

} // namespace

void check_module_stage(const bytes& before, const bytes& after, int result)
{
    require(result == 0 || result == 1, "relocate_module returns 0 or 1");
    require(before.size() == after.size(), "the image keeps its size");
    const image_view original{before.data(), before.size()};
    if (!check_elf_header(original)) {
        require(result == 1, "an input that is not ELF32 fails");
        require(before == after, "an input that is not ELF32 is left unchanged");
        return;
    }
    // Slots over the magic are refused, so the magic is there whatever the walk met.
    require(std::equal(MODULE_MAGIC.begin(), MODULE_MAGIC.end(), after.begin()), "the magic is stamped");
    // A slot written early may change a relocation read later, so the offsets of both the
    // input and the result count.
    std::vector<std::uint32_t> slots;
    collect_slots(original, slots);
    collect_slots(image_view{after.data(), after.size()}, slots);
    std::sort(slots.begin(), slots.end());
    if (result != 0)
        return;
    for (std::size_t at = 0; at < before.size(); ++at) {
        if (before[at] == after[at] || (at < 4 && after[at] == MODULE_MAGIC[at]))
            continue;
        // Some slot must start in [at - 3, at].
        const std::uint64_t low = at < 3 ? 0 : at - 3;
        const auto it = std::lower_bound(slots.begin(), slots.end(), low);
        require(it != slots.end() && *it <= at, "a successful stage changes only the magic and jump slots");
    }
}
