#include "elf/misplaced_sections.h"

#include <algorithm>
#include <new>

bool find_misplaced_sections(const record_table<Elf32_Shdr>& sections, std::vector<misplaced_section>& found)
{
    found.clear();
    try {
        for (std::uint32_t i = 0; i < sections.size(); ++i) {
            const Elf32_Shdr s = sections[i];
            if ((s.sh_flags & SHF_ALLOC) == 0 || s.sh_type == SHT_NOBITS || s.sh_size == 0 || s.sh_addr == s.sh_offset)
                continue;
            found.push_back({std::uint64_t{s.sh_addr} + s.sh_size, i, s.sh_addr, s.sh_offset, 0});
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    std::sort(found.begin(), found.end(),
              [](const misplaced_section& a, const misplaced_section& b) { return a.sh_addr < b.sh_addr; });
    // Crafted tables may overlap: remember, at each place, which section so far reaches furthest.
    std::uint32_t furthest = 0;
    for (std::uint32_t k = 0; k < found.size(); ++k) {
        if (found[k].end > found[furthest].end)
            furthest = k;
        found[k].furthest = furthest;
    }
    return true;
}

const misplaced_section* misplaced_section_at(const std::vector<misplaced_section>& sections,
                                              std::uint32_t address)
{
    const auto after = std::upper_bound(sections.begin(), sections.end(), address,
                                        [](std::uint32_t a, const misplaced_section& s) { return a < s.sh_addr; });
    if (after == sections.begin())
        return nullptr;
    const misplaced_section& candidate = sections[std::prev(after)->furthest];
    return address < candidate.end ? &candidate : nullptr;
}
