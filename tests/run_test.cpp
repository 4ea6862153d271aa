// Whole runs of both stages through the binary, on images from the test writer.
#include "test_helpers.h"

#include <functional>

namespace {

const bytes LINK = make_link_file({
    {"k_print", 0x2011d},
    {"k_add", 0x20124, elf32_st_info(STB_GLOBAL, STT_FUNC)},
    {"k_zero", 0},
    {"k_data", 0x30000, elf32_st_info(STB_GLOBAL, STT_OBJECT)},
    {"helper", 0x100, elf32_st_info(STB_LOCAL, STT_FUNC)},
    {"helper", 0x201, elf32_st_info(STB_LOCAL, STT_FUNC)},
    {"k_weak", 0x20200, elf32_st_info(STB_WEAK, STT_FUNC)},
});

// CR LF pairs, lone LFs and Ctrl-Z (the end of the file to a text-mode read on Windows).
const bytes TRICKY = {'\r', '\n', '\n', 0x1a, '\r', 0, 0x1a, '\n'};

bytes with_tricky_tail(bytes b)
{
    b.insert(b.end(), TRICKY.begin(), TRICKY.end());
    return b;
}

const bytes TWO_FUNCTIONS = make_link_file({{"f0", 0x1001}, {"f1", 0x2001}});

void place_section_1(module_layout& m, std::uint32_t address)
{
    set_section_field(m.image, 1, &Elf32_Shdr::sh_flags, SHF_ALLOC);
    set_section_field(m.image, 1, &Elf32_Shdr::sh_addr, address);
}

// An image whose .symtab defines `functions` and whose jump slots import `imports`, with the
// slots in the first section: a module, or a target that is itself dynamically linked.
bytes image_with(const std::vector<std::string>& functions, const std::vector<std::string>& imports)
{
    elf_writer w;
    w.add_section(SHT_PROGBITS, bytes(4 * imports.size() + 4, 0));
    symbol_builder own;
    for (std::size_t k = 0; k < functions.size(); ++k)
        own.add(functions[k], 0x1001 + 0x10 * static_cast<std::uint32_t>(k));
    w.add_section(SHT_SYMTAB, own.symtab, w.add_section(SHT_STRTAB, own.strtab));
    symbol_builder dyn;
    rel_builder rel;
    for (std::size_t k = 0; k < imports.size(); ++k)
        rel.add(52 + 4 * static_cast<std::uint32_t>(k), R_ARM_JUMP_SLOT, dyn.add(imports[k], 0));
    const std::uint32_t dynsym = w.add_section(SHT_DYNSYM, dyn.symtab, w.add_section(SHT_STRTAB, dyn.strtab));
    w.add_section(SHT_REL, rel.rel, dynsym);
    return w.finish();
}

// A target image stripped of its symbol table: code alone.
bytes stripped_link_file()
{
    elf_writer w(header_layout{.type = ET_EXEC});
    w.add_section(SHT_PROGBITS, bytes(64, 0x5a));
    return w.finish();
}

const bytes KEEP = {'k', 'e', 'e', 'p'};
const std::string OK = "relocation sucessfully\n", FAILED = "relocation failed\n";

struct weld_case {
    const char* what;
    bytes link;
    std::vector<module_import> imports;       // the linked image, from make_module
    std::function<void(module_layout&)> patch; // applied to it, where given
    std::vector<std::string> options;
    std::string out;
    int status;
    std::vector<std::pair<std::size_t, std::uint32_t>> filled; // import k's slot and its value, after status 0
};

void PrintTo(const weld_case& c, std::ostream* os) { *os << c.what; }

const weld_case CASES[] = {
    // The Thumb bit of k_print stays set; the later of two helpers wins.
    {"fills every slot and changes nothing else", LINK, {{"k_print"}, {"k_add"}, {"helper"}, {"k_weak"}}, {}, {}, OK, 0,
     {{0, 0x2011d}, {1, 0x20124}, {2, 0x201}, {3, 0x20200}}},
    {"traces every entry and every slot in order", LINK, {{"k_add"}, {"k_zero"}, {"k_print"}}, {}, {"-D", "on"},
     "hash_table_insert symbol k_print \n"
     "hash_table_insert symbol k_add \n"
     "hash_table_insert symbol k_zero \n"
     "hash_table_insert symbol helper \n"
     "hash_table_insert symbol helper \n"
     "hash_table_insert symbol k_weak \n"
     "relocate symbol k_add--0x20124\n"
     "relocate symbol k_zero--0x0\n"
     "relocate symbol k_print--0x2011d\n" +
         OK,
     0, {{0, 0x20124}, {1, 0}, {2, 0x2011d}}},
    // In both inputs and in the value written into the slot.
    {"CR, LF and Ctrl-Z go through unchanged", with_tricky_tail(make_link_file({{"k_nl", 0x0a1a0d0a}})),
     {{"k_nl"}}, [](module_layout& m) { m.image = with_tricky_tail(m.image); }, {}, OK, 0, {{0, 0x0a1a0d0a}}},
    {"no relocations: only the magic is set", LINK, {},
     [](module_layout& m) {
         elf_writer w;
         w.add_section(SHT_PROGBITS, bytes(40, 0x11));
         m.image = w.finish();
     },
     {}, OK, 0, {}},
    // The module's own function (a value), a data import and an absolute word: none is
    // touched, even where the link file has no such name.
    {"valued and non-jump slots are left alone", LINK,
     {{"own_function", 0x345}, {"k_data", 0, R_ARM_GLOB_DAT}, {"unknown", 0, R_ARM_ABS32}, {"k_add"}}, {}, {}, OK, 0,
     {{3, 0x20124}}},
    {"RELA sections are not looked at", LINK, {{"nowhere"}},
     [](module_layout& m) { set_section_field(m.image, m.rel_section, &Elf32_Shdr::sh_type, SHT_RELA); }, {}, OK, 0,
     {}},
    {"missing names reported in order, no output", LINK,
     {{"k_add"}, {"missing_a"}, {"k_data"}, {"missing_a"}, {"missing_b"}}, {}, {},
     "relocate symbol missing_a failed\n"
     "relocate symbol k_data failed\n" // a data object is not a function
     "relocate symbol missing_a failed\n"
     "relocate symbol missing_b failed\n" +
         FAILED,
     1, {}},
    {"the null symbol has the empty name", LINK, {{"k_add"}},
     [](module_layout& m) {
         const std::uint32_t rel = section_field(m.image, m.rel_section, &Elf32_Shdr::sh_offset);
         put_u32(m.image, rel + 4, elf32_r_info(0, R_ARM_JUMP_SLOT));
     },
     {}, "relocate symbol  failed\n" + FAILED, 1, {}},
    {"a module image is not a linked image", LINK, {{"k_add"}},
     [](module_layout& m) { m.image = expected_module(m.image, {{m.slot_offsets[0], 0x20124}}); }, {},
     "check ELF header error\n"
     "linked image: not a 32-bit ELF file: it starts with the module magic 7f 4f 56 4b, so it is a module image "
     "already welded; give the file the linker wrote\n" +
         FAILED,
     1, {}},
    {"swapped inputs are refused", image_with({"mod_main"}, {"k_print", "k_add"}), {},
     [](module_layout& m) { m.image = LINK; }, {},
     "linked image: no jump slot to fill, while the link file has jump slots for functions the linked image "
     "defines: the two inputs look swapped; give the target system's image with -l and the module last\n" +
         FAILED,
     1, {}},
    // A dynamically linked target imports its C library's functions; a module without
    // imports that defines one of them is no reason to think the inputs swapped.
    {"no-import module welds to a dynamic target",
     image_with({"k_print"}, {"memset", "printf"}), {},
     [](module_layout& m) { m.image = image_with({"memset", "module_main"}, {}); }, {}, OK, 0, {}},
    {"a stripped link file is said once, first", stripped_link_file(), {{"k_add"}, {"k_print"}}, {},
     {},
     "link file: no symbol table section (SHT_SYMTAB), so no function to fill a slot with: it was stripped; give "
     "the unstripped image (strip --strip-debug keeps the symbol table)\n"
     "relocate symbol k_add failed\n"
     "relocate symbol k_print failed\n" +
         FAILED,
     1, {}},
    {"a stripped link file does for no imports", stripped_link_file(), {}, {}, {}, OK, 0, {}},
    {"a text link file resolves no slot", {'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'},
     {{"k_add"}, {"k_print"}}, {}, {},
     "check ELF header error\n"
     "link file: not a 32-bit ELF file: it does not start with the ELF magic 7f 45 4c 46 (a raw binary, as objcopy "
     "-O binary writes, has no symbols or relocations): give the ELF file\n"
     "relocate symbol k_add failed\n"
     "relocate symbol k_print failed\n" +
         FAILED,
     1, {}},
    // Section 1 holds the slots, at 0x34 and 0x38: marked allocated and placed at its file
    // offset, or 4 bytes below it, so that the slots' addresses lie inside its address range.
    {"slot in a section placed at its offset", TWO_FUNCTIONS, {{"f0"}, {"f1"}},
     [](module_layout& m) { place_section_1(m, 0x34); }, {}, OK, 0, {{0, 0x1001}, {1, 0x2001}}},
    {"slot in a section placed off its offset", TWO_FUNCTIONS, {{"f0"}, {"f1"}},
     [](module_layout& m) { place_section_1(m, 0x30); }, {},
     "relocate symbol f0 failed: offset 0x34 lies in section 1, whose address 0x30 is not its file offset 0x34\n"
     "relocate symbol f1 failed: offset 0x38 lies in section 1, whose address 0x30 is not its file offset 0x34\n" +
         FAILED,
     1, {}},
};

class weld_test : public tool_test, public ::testing::WithParamInterface<weld_case> {};

// The exit status, the exact output, and the module image: the linked image with the magic and
// the filled slots and nothing else changed, or after a failure the file that was there.
TEST_P(weld_test, WritesOrKeeps)
{
    const weld_case& c = GetParam();
    module_layout m = make_module(c.imports);
    if (c.patch)
        c.patch(m);
    put("k.elf", c.link);
    put("app.so", m.image);
    put("out.mo", KEEP);
    std::vector<std::string> args = {"-l", "k.elf", "-o", "out.mo"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back("app.so");
    const run_result r = run(args);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, "");
    std::vector<std::pair<std::uint32_t, std::uint32_t>> slots;
    for (const auto& [k, value] : c.filled)
        slots.emplace_back(m.slot_offsets.at(k), value);
    EXPECT_EQ(get("out.mo"), c.status == 0 ? expected_module(m.image, slots) : KEEP);
}

INSTANTIATE_TEST_SUITE_P(Weld, weld_test, ::testing::ValuesIn(CASES), name_from_what{});

} // namespace
