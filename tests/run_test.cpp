// Whole runs of the module stage through the binary, on images from the test writer.
#include "run_tool.h"

#include <functional>

namespace {

class weld_test : public tool_test {
protected:
    // Runs modweld on link file `link` and linked image `image`, writing out.mo.
    run_result weld(const bytes& link, const bytes& image, std::vector<std::string> extra = {})
    {
        put("k.elf", link);
        put("app.so", image);
        std::vector<std::string> args = {"-l", "k.elf", "-o", "out.mo"};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back("app.so");
        run_result r = run(args);
        EXPECT_EQ(r.signal, 0);
        EXPECT_EQ(r.err, "");
        return r;
    }

    // A failed module stage: status 1, the message lines, and no output file.
    void expect_failed(const run_result& r, const std::string& lines)
    {
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, lines + "relocation failed\n");
        EXPECT_FALSE(exists("out.mo"));
    }
};

const bytes LINK = make_link_file({
    {"k_print", 0x2011d},
    {"k_add", 0x20124, elf32_st_info(STB_GLOBAL, STT_FUNC)},
    {"k_zero", 0},
    {"k_data", 0x30000, elf32_st_info(STB_GLOBAL, STT_OBJECT)},
    {"helper", 0x100, elf32_st_info(STB_LOCAL, STT_FUNC)},
    {"helper", 0x201, elf32_st_info(STB_LOCAL, STT_FUNC)},
    {"k_weak", 0x20200, elf32_st_info(STB_WEAK, STT_FUNC)},
});

TEST_F(weld_test, FillsEverySlotAndChangesNothingElse)
{
    const module_layout m = make_module({{"k_print"}, {"k_add"}, {"helper"}, {"k_weak"}});
    const run_result r = weld(LINK, m.image);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "relocation sucessfully\n");
    // The Thumb bit of k_print stays set; the later of two helpers wins.
    EXPECT_EQ(get("out.mo"), expected_module(m.image, {{m.slot_offsets[0], 0x2011d},
                                                       {m.slot_offsets[1], 0x20124},
                                                       {m.slot_offsets[2], 0x201},
                                                       {m.slot_offsets[3], 0x20200}}));
}

TEST_F(weld_test, TracesEveryEntryAndEverySlotInOrder)
{
    const module_layout m = make_module({{"k_add"}, {"k_zero"}, {"k_print"}});
    const run_result r = weld(LINK, m.image, {"-D", "on"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "hash_table_insert symbol k_print \n"
                     "hash_table_insert symbol k_add \n"
                     "hash_table_insert symbol k_zero \n"
                     "hash_table_insert symbol helper \n"
                     "hash_table_insert symbol helper \n"
                     "hash_table_insert symbol k_weak \n"
                     "relocate symbol k_add--0x20124\n"
                     "relocate symbol k_zero--0x0\n"
                     "relocate symbol k_print--0x2011d\n"
                     "relocation sucessfully\n");
    EXPECT_EQ(get("out.mo"), expected_module(m.image, {{m.slot_offsets[0], 0x20124},
                                                       {m.slot_offsets[1], 0},
                                                       {m.slot_offsets[2], 0x2011d}}));
}

TEST_F(weld_test, BytesThatTextModeWouldChangeGoThroughUnchanged)
{
    // CR LF pairs, lone LFs and Ctrl-Z (the end of the file to a text-mode read on Windows),
    // in both inputs and in the value written into the slot.
    const bytes tricky = {'\r', '\n', '\n', 0x1a, '\r', 0, 0x1a, '\n'};
    bytes link = make_link_file({{"k_nl", 0x0a1a0d0a}});
    link.insert(link.end(), tricky.begin(), tricky.end());
    module_layout m = make_module({{"k_nl"}});
    m.image.insert(m.image.end(), tricky.begin(), tricky.end());
    const run_result r = weld(link, m.image);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(get("out.mo"), expected_module(m.image, {{m.slot_offsets[0], 0x0a1a0d0a}}));
}

TEST_F(weld_test, ImageWithoutRelocationsOnlyGetsTheMagic)
{
    elf_writer w;
    w.add_section(SHT_PROGBITS, bytes(40, 0x11));
    const bytes image = w.finish();
    const run_result r = weld(LINK, image);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "relocation sucessfully\n");
    EXPECT_EQ(get("out.mo"), expected_module(image, {}));
}

TEST_F(weld_test, SlotsOfValuedSymbolsAndOtherTypesAreLeftAlone)
{
    // The module's own function (a value), a data import and an absolute word: none is touched,
    // even where the link file has no such name.
    const module_layout m = make_module({{"own_function", 0x345},
                                         {"k_data", 0, R_ARM_GLOB_DAT},
                                         {"unknown", 0, R_ARM_ABS32},
                                         {"k_add"}});
    const run_result r = weld(LINK, m.image);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(get("out.mo"), expected_module(m.image, {{m.slot_offsets[3], 0x20124}}));
}

TEST_F(weld_test, RelaSectionsAreNotLookedAt)
{
    module_layout m = make_module({{"nowhere"}});
    set_section_field(m.image, m.rel_section, &Elf32_Shdr::sh_type, SHT_RELA);
    const run_result r = weld(LINK, m.image);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(get("out.mo"), expected_module(m.image, {}));
}

TEST_F(weld_test, EveryMissingNameIsReportedInOrderAndNothingIsWritten)
{
    put("out.mo", {'k', 'e', 'e', 'p'});
    const module_layout m = make_module({{"k_add"}, {"missing_a"}, {"k_data"}, {"missing_a"}, {"missing_b"}});
    const run_result r = weld(LINK, m.image);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "relocate symbol missing_a failed\n"
                     "relocate symbol k_data failed\n" // a data object is not a function
                     "relocate symbol missing_a failed\n"
                     "relocate symbol missing_b failed\n"
                     "relocation failed\n");
    EXPECT_EQ(get("out.mo"), (bytes{'k', 'e', 'e', 'p'}));
}

TEST_F(weld_test, NullSymbolHasTheEmptyName)
{
    module_layout m = make_module({{"k_add"}});
    rel_builder extra;
    extra.add(m.slot_offsets[0], R_ARM_JUMP_SLOT, 0);
    const std::size_t rel_at = section_field(m.image, m.rel_section, &Elf32_Shdr::sh_offset);
    std::copy(extra.rel.begin(), extra.rel.end(), m.image.begin() + static_cast<std::ptrdiff_t>(rel_at));
    expect_failed(weld(LINK, m.image), "relocate symbol  failed\n");
}

TEST_F(weld_test, ModuleImageIsNotALinkedImage)
{
    const module_layout m = make_module({{"k_add"}});
    ASSERT_EQ(weld(LINK, m.image).status, 0);
    const bytes module_image = get("out.mo");
    std::filesystem::remove(path("out.mo"));
    expect_failed(weld(LINK, module_image), "check ELF header error\n");
}

TEST_F(weld_test, TextLinkFileLeavesEverySlotUnresolved)
{
    const std::string text = "not an image";
    const module_layout m = make_module({{"k_add"}, {"k_print"}});
    expect_failed(weld(bytes(text.begin(), text.end()), m.image),
                  "check ELF header error\n"
                  "relocate symbol k_add failed\n"
                  "relocate symbol k_print failed\n");
}

TEST_F(weld_test, SlotOutsideTheImageFailsTheRun)
{
    module_layout m = make_module({{"k_add"}, {"k_print"}});
    const std::size_t rel_at = section_field(m.image, m.rel_section, &Elf32_Shdr::sh_offset);
    const auto size = static_cast<std::uint32_t>(m.image.size());
    put_u32(m.image, rel_at, size - 3);
    put_u32(m.image, rel_at + 8, 0xffffffff);
    char expected[200];
    std::snprintf(expected, sizeof expected,
                  "relocate symbol k_add failed: offset 0x%x is outside the image\n"
                  "relocate symbol k_print failed: offset 0xffffffff is outside the image\n",
                  size - 3);
    expect_failed(weld(LINK, m.image), expected);
}

TEST_F(weld_test, SlotInTheLastFourBytesIsFilled)
{
    module_layout m = make_module({{"k_add"}});
    const std::size_t rel_at = section_field(m.image, m.rel_section, &Elf32_Shdr::sh_offset);
    const auto last = static_cast<std::uint32_t>(m.image.size() - 4);
    put_u32(m.image, rel_at, last);
    EXPECT_EQ(weld(LINK, m.image).status, 0);
    EXPECT_EQ(get("out.mo"), expected_module(m.image, {{last, 0x20124}}));
}

TEST_F(weld_test, UnreadableRecordsFailTheRunWithALineEach)
{
    struct patch_case {
        const char* what;
        std::function<void(module_layout&)> patch;
        std::string lines;
    };
    const std::vector<patch_case> cases = {
        {"symbol index past its section",
         [](module_layout& m) {
             const std::size_t rel_at = section_field(m.image, m.rel_section, &Elf32_Shdr::sh_offset);
             put_u32(m.image, rel_at + 4, 9u << 8 | R_ARM_JUMP_SLOT);
         },
         "linked image: section 4 relocation 0: symbol 9 is outside symbol section 3\n"},
        {"relocation section names no section",
         [](module_layout& m) { set_section_field(m.image, m.rel_section, &Elf32_Shdr::sh_link, 5); },
         "linked image: section 4: sh_link 5 names no section (e_shnum 5)\n"},
        {"symbol section names no section",
         [](module_layout& m) { set_section_field(m.image, m.dynsym_section, &Elf32_Shdr::sh_link, 0xffffffff); },
         "linked image: section 3: sh_link 4294967295 names no section (e_shnum 5)\n"},
        {"relocations past the end",
         [](module_layout& m) { set_section_field(m.image, m.rel_section, &Elf32_Shdr::sh_size, 0xfffffff8); },
         ""},
        {"name outside the file",
         [](module_layout& m) {
             const std::size_t sym_at = section_field(m.image, m.dynsym_section, &Elf32_Shdr::sh_offset);
             put_u32(m.image, sym_at + 16, 0x10000);
         },
         "linked image: section 3 symbol 1: name at st_name 0x10000 is outside the file\n"},
    };
    for (const patch_case& c : cases) {
        SCOPED_TRACE(c.what);
        module_layout m = make_module({{"k_add"}, {"k_print"}});
        c.patch(m);
        const run_result r = weld(LINK, m.image);
        EXPECT_EQ(r.status, 1);
        if (!c.lines.empty()) {
            EXPECT_EQ(r.out.rfind(c.lines, 0), 0u) << r.out;
        }
        EXPECT_NE(r.out.find("relocation failed\n"), std::string::npos) << r.out;
        EXPECT_FALSE(exists("out.mo"));
    }
}

TEST_F(weld_test, TinyImagesAreRejectedWithoutAnOutput)
{
    const bytes whole = make_module({{"k_add"}}).image;
    for (const std::size_t size : {0, 1, 4, 5, 51}) {
        SCOPED_TRACE(size);
        const run_result r = weld(LINK, bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size)));
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, size < 5 ? "check ELF header error\nrelocation failed\n"
                                  : "linked image: ELF header is truncated (" + std::to_string(size) +
                                        " bytes, the header takes 52)\nrelocation failed\n");
        EXPECT_FALSE(exists("out.mo"));
    }
}

} // namespace
