// Runs the binary on real linker output kept in tests/fixtures and checks every jump slot
// against fixtures/manifest.txt, which tools/make-fixtures.sh writes from readelf output.
#include "test_helpers.h"

#include <fstream>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace {

const fs::path FIXTURES = MODWELD_FIXTURE_DIR;

struct slot_expectation {
    std::uint32_t offset = 0;
    std::string name;
    std::uint32_t value = 0;
    std::string outcome; // fill, keep, missing, outside, misplaced or arm-plt
    std::string section; // for misplaced: the section, its address and its offset; for arm-plt: the PLT's address
};

struct fixture {
    std::string name;
    std::string link_file;
    std::string linked_image;
    bool identity_layout = false;
    unsigned functions = 0;
    std::vector<slot_expectation> slots;
    int status = -1;
};

// Names the fixture in test listings instead of dumping its bytes.
void PrintTo(const fixture& f, std::ostream* os) { *os << f.name; }

std::uint32_t parse_hex(const std::string& text) { return static_cast<std::uint32_t>(std::stoul(text, nullptr, 16)); }

std::vector<fixture> load_manifest()
{
    std::vector<fixture> fixtures;
    std::ifstream in(FIXTURES / "manifest.txt");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string key;
        words >> key;
        if (key == "fixture") {
            fixtures.emplace_back();
            words >> fixtures.back().name >> fixtures.back().link_file >> fixtures.back().linked_image;
            continue;
        }
        if (key.empty() || key[0] == '#' || fixtures.empty())
            continue;
        fixture& f = fixtures.back();
        if (key == "layout") {
            std::string layout;
            words >> layout;
            f.identity_layout = layout == "identity";
        } else if (key == "functions") {
            words >> f.functions;
        } else if (key == "status") {
            words >> f.status;
        } else if (key == "slot") {
            slot_expectation s;
            std::string offset, value;
            words >> offset >> s.name >> value >> s.outcome;
            std::getline(words >> std::ws, s.section);
            s.offset = parse_hex(offset);
            s.value = value == "-" ? 0 : parse_hex(value);
            f.slots.push_back(s);
        }
    }
    return fixtures;
}

const std::vector<fixture>& manifest()
{
    static const std::vector<fixture> fixtures = load_manifest();
    return fixtures;
}

// The lines modweld prints after the link-file stage, as its README documents them.
std::string expected_report(const fixture& f, bool trace)
{
    std::string out;
    bool arm_plt_reported = false;
    for (const slot_expectation& s : f.slots) {
        const std::string symbol = "relocate symbol " + s.name;
        if (s.outcome == "fill" && trace)
            out += symbol + "--" + hex(s.value) + "\n";
        else if (s.outcome == "missing")
            out += symbol + " failed\n";
        else if (s.outcome == "outside")
            out += symbol + " failed: offset " + hex(s.offset) + " is outside the image\n";
        else if (s.outcome == "misplaced") {
            std::istringstream where(s.section);
            std::string index, address, offset;
            where >> index >> address >> offset;
            out += symbol + " failed: offset " + hex(s.offset) + " lies in section " + index + ", whose address " +
                   address + " is not its file offset " + offset + "\n";
        } else if (s.outcome == "arm-plt" && !arm_plt_reported) {
            out += "linked image: the PLT at " + s.section + " is ARM code, which the link file's M-profile core "
                   "cannot run: link the module with GNU ld and an M-profile -mcpu, or with ld.lld 19 or later\n";
            arm_plt_reported = true;
        }
    }
    return out + (f.status == 0 ? "relocation sucessfully\n" : "relocation failed\n");
}

// Allocated sections that take file space but whose address differs from their offset.
std::vector<std::string> layout_mismatches(const bytes& image)
{
    std::vector<std::string> found;
    for (std::uint32_t i = 0; i < header_field(image, &Elf32_Ehdr::e_shnum); ++i) {
        const std::uint32_t addr = section_field(image, i, &Elf32_Shdr::sh_addr);
        const std::uint32_t offset = section_field(image, i, &Elf32_Shdr::sh_offset);
        if ((section_field(image, i, &Elf32_Shdr::sh_flags) & SHF_ALLOC) != 0 &&
            section_field(image, i, &Elf32_Shdr::sh_type) != SHT_NOBITS && addr != offset)
            found.push_back("section " + std::to_string(i) + ": address " + hex(addr) + ", offset " + hex(offset));
    }
    return found;
}

class fixture_test : public tool_test, public ::testing::WithParamInterface<fixture> {
protected:
    run_result weld(const fixture& f, bool trace) const
    {
        std::vector<std::string> args = {"-l", (FIXTURES / f.link_file).string(), "-o", "out.mo"};
        if (trace)
            args.insert(args.end(), {"-D", "1"});
        args.push_back((FIXTURES / f.linked_image).string());
        return run(args);
    }
};

TEST_P(fixture_test, LayoutIsWhatTheFixtureClaims)
{
    const fixture& f = GetParam();
    const std::vector<std::string> mismatches = layout_mismatches(read_file(FIXTURES / f.linked_image));
    if (f.identity_layout)
        EXPECT_EQ(mismatches, std::vector<std::string>{});
    else
        EXPECT_FALSE(mismatches.empty());
}

TEST_P(fixture_test, FillsEverySlotAsTheManifestSaysAndNothingElse)
{
    const fixture& f = GetParam();
    const bytes linked = read_file(FIXTURES / f.linked_image);
    ASSERT_GT(linked.size(), 52u) << f.linked_image;

    const run_result r = weld(f, false);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, f.status);
    EXPECT_EQ(r.out, expected_report(f, false));

    if (f.status != 0) {
        EXPECT_FALSE(exists("out.mo"));
        return;
    }
    std::vector<std::pair<std::uint32_t, std::uint32_t>> filled;
    for (const slot_expectation& s : f.slots)
        if (s.outcome == "fill")
            filled.emplace_back(s.offset, s.value);
    EXPECT_EQ(get("out.mo"), expected_module(linked, filled));
}

TEST_P(fixture_test, TracesEveryFunctionAndEverySlot)
{
    const fixture& f = GetParam();
    const run_result r = weld(f, true);
    EXPECT_EQ(r.status, f.status);

    std::istringstream lines(r.out);
    std::string line;
    for (unsigned i = 0; i < f.functions; ++i) {
        ASSERT_TRUE(std::getline(lines, line)) << "trace line " << i;
        EXPECT_EQ(line.rfind("hash_table_insert symbol ", 0), 0u) << line;
    }
    std::string rest((std::istreambuf_iterator<char>(lines)), {});
    EXPECT_EQ(rest, expected_report(f, true));
}

INSTANTIATE_TEST_SUITE_P(real, fixture_test, ::testing::ValuesIn(manifest()),
                         [](const ::testing::TestParamInfo<fixture>& info) { return test_name(info.param.name); });

TEST(fixture_manifest, CoversEveryLinkedImageAndBothLinkers)
{
    std::set<std::string> listed, on_disk;
    std::set<std::string> linkers;
    for (const fixture& f : manifest()) {
        listed.insert(f.linked_image);
        linkers.insert(f.name.substr(0, f.name.find('-')));
        EXPECT_TRUE(f.status == 0 || f.status == 1) << f.name;
    }
    for (const fs::directory_entry& e : fs::directory_iterator(FIXTURES))
        if (e.path().extension() == ".so")
            on_disk.insert(e.path().filename().string());
    EXPECT_EQ(listed, on_disk);
    EXPECT_EQ(linkers, (std::set<std::string>{"gnu", "lld"}));
}

} // namespace
