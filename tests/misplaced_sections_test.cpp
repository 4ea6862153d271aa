// Finding the sections placed at another address than their file offset.
#include "elf/misplaced_sections.h"

#include "elf_writer.h"

#include <gtest/gtest.h>

namespace {

TEST(MisplacedSections, FoundByAddressEvenWhereSectionsOverlap)
{
    elf_writer w;
    w.add_header({SHT_PROGBITS, 0x100, 0x80, 0, SHF_ALLOC, 0x100});   // 1: in place
    w.add_header({SHT_PROGBITS, 0x200, 0x100, 0, SHF_ALLOC, 0x1000}); // 2: misplaced
    w.add_header({SHT_PROGBITS, 0x300, 0x10, 0, SHF_ALLOC, 0x1050});  // 3: inside 2's addresses
    w.add_header({SHT_PROGBITS, 0x400, 0x800, 0, SHF_ALLOC, 0x2000}); // 4: misplaced
    w.add_header({SHT_NOBITS, 0x500, 0x1000, 0, SHF_ALLOC, 0x4000});  // 5: no file contents
    w.add_header({SHT_PROGBITS, 0x600, 0x40, 0, 0, 0x5000});          // 6: not allocated
    w.add_header({SHT_PROGBITS, 0x700, 0, 0, SHF_ALLOC, 0x6000});     // 7: empty
    const bytes image = w.finish();
    const image_view view{image.data(), image.size()};
    const auto sections = section_table(view, get_record<Elf32_Ehdr>(image, 0));
    ASSERT_TRUE(sections);
    std::vector<misplaced_section> found;
    ASSERT_TRUE(find_misplaced_sections(*sections, found));
    ASSERT_EQ(found.size(), 3u);

    const struct {
        std::uint32_t address;
        std::uint32_t section; // 0: none
    } cases[] = {{0x100, 0},  {0xfff, 0},  {0x1000, 2}, {0x1050, 2}, {0x1058, 2}, {0x10a0, 2}, {0x10ff, 2},
                 {0x1100, 0}, {0x2000, 4}, {0x27ff, 4}, {0x2800, 0}, {0x4000, 0}, {0x5000, 0}, {0x6000, 0}};
    for (const auto& c : cases) {
        const misplaced_section* m = misplaced_section_at(found, c.address);
        EXPECT_EQ(m == nullptr ? 0 : m->index, c.section) << std::hex << c.address;
    }
}

} // namespace
