// Runs the binary on real linker output kept in tests/fixtures: its standard output, with and
// without -D, must be the lines fixtures/manifest.txt holds for the pair, and every jump slot
// must be filled as the manifest says. tools/make-fixtures.sh writes the manifest from readelf.
#include "test_helpers.h"

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace {

const fs::path FIXTURES = MODWELD_FIXTURE_DIR;

struct slot_expectation {
    std::uint32_t offset = 0;
    std::uint32_t value = 0;
    bool filled = false;
};

struct fixture {
    std::string name;
    std::string link_file;
    std::string linked_image;
    bool identity_layout = false;
    std::vector<slot_expectation> slots;
    int status = -1;
    std::string out;   // standard output, literally
    std::string trace; // the same with -D 1
};

// Names the fixture in test listings instead of dumping its bytes.
void PrintTo(const fixture& f, std::ostream* os) { *os << f.name; }

std::uint32_t parse_hex(const std::string& text) { return static_cast<std::uint32_t>(std::stoul(text, nullptr, 16)); }

// A quoted line: everything between the first and the last double quote.
std::string literal_line(const std::string& line)
{
    const std::size_t first = line.find('"'), last = line.rfind('"');
    return first < last ? line.substr(first + 1, last - first - 1) + "\n" : "(unquoted) " + line;
}

struct manifest_file {
    std::vector<fixture> fixtures;
    std::set<std::string> unknown_keys;
};

manifest_file load_manifest()
{
    manifest_file m;
    std::ifstream in(FIXTURES / "manifest.txt");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string key;
        words >> key;
        if (key == "fixture") {
            m.fixtures.emplace_back();
            words >> m.fixtures.back().name >> m.fixtures.back().link_file >> m.fixtures.back().linked_image;
            continue;
        }
        if (key.empty() || key[0] == '#' || m.fixtures.empty())
            continue;
        fixture& f = m.fixtures.back();
        if (key == "layout") {
            std::string layout;
            words >> layout;
            f.identity_layout = layout == "identity";
        } else if (key == "status") {
            words >> f.status;
        } else if (key == "slot") {
            slot_expectation s;
            std::string offset, name, value, outcome;
            words >> offset >> name >> value >> outcome;
            s.offset = parse_hex(offset);
            s.value = value == "-" ? 0 : parse_hex(value);
            s.filled = outcome == "fill";
            f.slots.push_back(s);
        } else if (key == "out") {
            f.out += literal_line(line);
        } else if (key == "trace") {
            f.trace += literal_line(line);
        } else if (key != "core" && key != "floats" && key != "plt") { // what the outcomes follow from
            m.unknown_keys.insert(key);
        }
    }
    return m;
}

const manifest_file& manifest()
{
    static const manifest_file m = load_manifest();
    return m;
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

TEST_P(fixture_test, FillsSlotsAsTheManifestSays)
{
    const fixture& f = GetParam();
    const bytes linked = read_file(FIXTURES / f.linked_image);
    ASSERT_GT(linked.size(), 52u) << f.linked_image;

    const run_result r = weld(f, false);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, f.status);
    EXPECT_EQ(r.out, f.out);

    if (f.status != 0) {
        EXPECT_FALSE(exists("out.mo"));
        return;
    }
    std::vector<std::pair<std::uint32_t, std::uint32_t>> filled;
    for (const slot_expectation& s : f.slots)
        if (s.filled)
            filled.emplace_back(s.offset, s.value);
    EXPECT_EQ(get("out.mo"), expected_module(linked, filled));
}

TEST_P(fixture_test, TracesEveryFunctionAndSlot)
{
    const fixture& f = GetParam();
    const run_result r = weld(f, true);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, f.status);
    EXPECT_EQ(r.out, f.trace);
}

INSTANTIATE_TEST_SUITE_P(real, fixture_test, ::testing::ValuesIn(manifest().fixtures),
                         [](const ::testing::TestParamInfo<fixture>& info) { return test_name(info.param.name); });

const std::string SWAPPED = "linked image: no jump slot to fill, while the link file has jump slots for functions the "
                            "linked image defines: the two inputs look swapped; give the target system's image with "
                            "-l and the module last\nrelocation failed\n";

// The pairs that weld and fill a slot: given the wrong way round, each must be refused. (A
// module without jump slots, such as one built with long calls, gives nothing to tell a
// swapped pair by.)
std::vector<fixture> filling_pairs()
{
    std::vector<fixture> found;
    for (const fixture& f : manifest().fixtures)
        if (f.status == 0 && std::any_of(f.slots.begin(), f.slots.end(), [](const slot_expectation& s) { return s.filled; }))
            found.push_back(f);
    return found;
}

using swapped_test = fixture_test;

TEST_P(swapped_test, RefusesTheSwappedPair)
{
    const fixture& f = GetParam();
    const run_result r = run({"-l", (FIXTURES / f.linked_image).string(), "-o", "out.mo",
                              (FIXTURES / f.link_file).string()});
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, SWAPPED);
    EXPECT_FALSE(exists("out.mo"));
}

INSTANTIATE_TEST_SUITE_P(real, swapped_test, ::testing::ValuesIn(filling_pairs()),
                         [](const ::testing::TestParamInfo<fixture>& info) { return test_name(info.param.name); });

// The bundled example pair of README's quick start, both ways round.
TEST_F(tool_test, BundledExampleWeldsAndIsRefusedSwapped)
{
    const fs::path examples = MODWELD_EXAMPLES_DIR;
    const std::string target = (examples / "target.elf").string(), module = (examples / "module.so").string();
    run_result r = run({"-l", target, "-o", "out.mo", module});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "relocation sucessfully\n");
    EXPECT_TRUE(exists("out.mo"));
    fs::remove(path("out.mo"));
    r = run({"-l", module, "-o", "out.mo", target});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, SWAPPED);
    EXPECT_FALSE(exists("out.mo"));
}

TEST(fixture_manifest, CoversEveryLinkedImageAndEveryLinker)
{
    std::set<std::string> listed, on_disk;
    std::set<std::string> linkers;
    for (const fixture& f : manifest().fixtures) {
        listed.insert(f.linked_image);
        linkers.insert(f.name.substr(0, f.name.find('-')));
        EXPECT_TRUE(f.status == 0 || f.status == 1) << f.name;
        EXPECT_NE(f.out, "") << f.name;
        EXPECT_NE(f.trace, "") << f.name;
    }
    for (const fs::directory_entry& e : fs::directory_iterator(FIXTURES))
        if (e.path().extension() == ".so")
            on_disk.insert(e.path().filename().string());
    EXPECT_EQ(listed, on_disk);
    EXPECT_EQ(linkers, (std::set<std::string>{"gnu", "lld", "lld19", "lld22"}));
    EXPECT_EQ(manifest().unknown_keys, std::set<std::string>{});
}

} // namespace
