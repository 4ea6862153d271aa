// Slots in sections placed at another address than their file offset.
#include "elf/slot_layout.h"

#include "run_tool.h"

namespace {

TEST(MisplacedSections, FoundByAddressEvenWhereSectionsOverlap)
{
    elf_writer w;
    w.add_header({SHT_PROGBITS, 0x100, 0x80, 0, SHF_ALLOC, 0x100});   // 1: in place
    w.add_header({SHT_PROGBITS, 0x200, 0x100, 0, SHF_ALLOC, 0x1000}); // 2: misplaced
    w.add_header({SHT_PROGBITS, 0x300, 0x10, 0, SHF_ALLOC, 0x1050});  // 3: inside 2's addresses
    w.add_header({SHT_PROGBITS, 0x400, 0x800, 0, SHF_ALLOC, 0x2000}); // 4: misplaced
    w.add_header({SHT_NOBITS, 0x500, 0x1000, 0, SHF_ALLOC, 0x4000});            // 5: NOBITS, no file contents
    w.add_header({SHT_PROGBITS, 0x600, 0x40, 0, 0, 0x5000});      // 6: not allocated
    w.add_header({SHT_PROGBITS, 0x700, 0, 0, SHF_ALLOC, 0x6000});     // 7: empty
    const bytes image = w.finish();
    const std::optional<image_walk> walk = open_walk(image_view{image.data(), image.size()}, "linked image");
    ASSERT_TRUE(walk);
    std::vector<misplaced_section> found;
    ASSERT_TRUE(find_misplaced_sections(*walk, found));
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

class misplaced_slot_test : public tool_test {};

TEST_F(misplaced_slot_test, SlotInsideTheFileButOffItsAddressIsReported)
{
    put("k.elf", make_link_file({{"f0", 0x1001}, {"f1", 0x2001}}));
    for (const std::uint32_t shift : {0u, 4u}) {
        SCOPED_TRACE(shift);
        module_layout m = make_module({{"f0"}, {"f1"}});
        // Section 1 holds the slots: mark it allocated, at `shift` below its offset, so that the
        // slots' addresses lie inside its address range.
        set_section_field(m.image, 1, &Elf32_Shdr::sh_flags, SHF_ALLOC);
        set_section_field(m.image, 1, &Elf32_Shdr::sh_addr, section_field(m.image, 1, &Elf32_Shdr::sh_offset) - shift);
        put("app.so", m.image);
        std::filesystem::remove(path("out.mo"));
        const run_result r = run({"-l", "k.elf", "-o", "out.mo", "app.so"});
        if (shift == 0) {
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(r.out, "relocation sucessfully\n");
            continue;
        }
        char expected[400];
        const unsigned offset = m.slot_offsets[0], address = offset - shift;
        std::snprintf(expected, sizeof expected,
                      "relocate symbol f0 failed: offset 0x%x lies in section 1, whose address 0x%x is not its "
                      "file offset 0x%x\n"
                      "relocate symbol f1 failed: offset 0x%x lies in section 1, whose address 0x%x is not its "
                      "file offset 0x%x\n"
                      "relocation failed\n",
                      offset, address, offset, offset + 4, address, offset);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, expected);
        EXPECT_FALSE(exists("out.mo"));
    }
}

} // namespace
