#include "fuzz_support.h"

#include "elf/elf32.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

void silence_stdout()
{
    if (std::freopen("/dev/null", "w", stdout) == nullptr)
        std::abort();
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
    const std::optional<Elf32_Ehdr> ehdr = read_record<Elf32_Ehdr>(image, 0);
    const auto sections = ehdr ? section_table(image, *ehdr) : std::nullopt;
    for (std::uint32_t i = 0; sections && i < sections->size(); ++i) {
        const Elf32_Shdr rel = (*sections)[i];
        const auto relocations = rel.sh_type == SHT_REL ? section_records<Elf32_Rel>(image, rel) : std::nullopt;
        for (std::uint32_t j = 0; relocations && j < relocations->size(); ++j)
            if (elf32_r_type((*relocations)[j].r_info) == R_ARM_JUMP_SLOT)
                slots.push_back((*relocations)[j].r_offset);
    }
}

} // namespace

void check_module_stage(const bytes& before, const bytes& after, stage_result result)
{
    require(before.size() == after.size(), "the image keeps its size");
    const image_view original{before.data(), before.size()};
    if (!check_elf_header(original)) {
        require(result == stage_result::failed, "an input that is not ELF32 fails");
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
    if (result != stage_result::ok)
        return;
    constexpr std::size_t last_byte = sizeof(ul32) - 1; // of a slot, from its first
    for (std::size_t at = 0; at < before.size(); ++at) {
        if (before[at] == after[at] || (at < MODULE_MAGIC.size() && after[at] == MODULE_MAGIC[at]))
            continue;
        // Some slot must start in [at - 3, at].
        const std::uint64_t low = at < last_byte ? 0 : at - last_byte;
        const auto it = std::lower_bound(slots.begin(), slots.end(), low);
        require(it != slots.end() && *it <= at, "a successful stage changes only the magic and jump slots");
    }
}
