// Inputs that once broke something, kept under tests/hostile/crashes and named after it, run
// through the binary as the fuzz target that found them read them: link_file-* is a link file,
// module-* a linked image (each against the real pair in tests/hostile), pair-* both, as
// split_pair() splits them, options-* an argument vector, as split_arguments() splits it.
// Each must end exactly as its row says, and every kept input must have a row.
#include "fuzz_input.h"
#include "run_tool.h"

#include <algorithm>
#include <optional>
#include <set>

namespace fs = std::filesystem;

namespace {

using slot_values = std::vector<std::pair<std::uint32_t, std::uint32_t>>; // r_offset, value

struct kept_input {
    const char* name;
    int status;
    const char* out;
    const char* err;
    // out.mo: the linked image with the module magic and these slots set; absent: no file
    // is written at all.
    std::optional<slot_values> written;
};

const kept_input KEPT[] = {
    // sys_add's slot at offset 0, a name mangled to one the link file lacks, and a relocation
    // of an unknown type, passed over.
    {"module-slot-over-the-magic", 1,
     "relocate symbol sys_add failed: offset 0x0 overlaps the module magic\n"
     "relocate symbol sys_th[mb failed\n"
     "relocation failed\n",
     "", std::nullopt},
};

bool starts_with(const std::string& name, const char* kind) { return name.rfind(kind, 0) == 0; }

std::set<std::string> files_in(const fs::path& dir)
{
    std::set<std::string> names;
    for (const fs::directory_entry& e : fs::directory_iterator(dir))
        names.insert(e.path().filename().string());
    return names;
}

class kept_input_test : public tool_test {};

TEST_F(kept_input_test, KeptCrashInputsEndCleanly)
{
    const fs::path hostile(MODWELD_HOSTILE_DIR);
    std::set<std::string> kept;
    for (const fs::directory_entry& e : fs::directory_iterator(hostile / "crashes")) {
        const std::string name = e.path().filename().string();
        SCOPED_TRACE(name);
        kept.insert(name);
        const auto row = std::find_if(std::begin(KEPT), std::end(KEPT),
                                      [&](const kept_input& k) { return name == k.name; });
        if (row == std::end(KEPT)) {
            ADD_FAILURE() << "a kept input without a row in KEPT";
            continue;
        }
        const bytes input = read_file(e.path());
        bytes link = read_file(hostile / "target.elf"), image = read_file(hostile / "module.so");
        std::vector<std::string> args = {"-l", "k.elf", "-o", "out.mo", "app.so"};
        if (starts_with(name, "link_file-")) {
            link = input;
        } else if (starts_with(name, "module-")) {
            image = input;
        } else if (starts_with(name, "pair-")) {
            std::optional<pair_input> pair = split_pair(input);
            if (!pair) {
                ADD_FAILURE() << "too short to be a pair";
                continue;
            }
            link = std::move(pair->link);
            image = std::move(pair->image);
        } else if (starts_with(name, "options-")) {
            const std::vector<std::string> argv = split_arguments(input);
            args.assign(argv.begin() + std::min<std::ptrdiff_t>(1, std::ssize(argv)), argv.end()); // argv[0] is the binary's own
        } else {
            ADD_FAILURE() << "unknown kind of kept input";
            continue;
        }
        for (const std::string& left : files_in(path("")))
            fs::remove_all(path(left));
        put("k.elf", link);
        put("app.so", image);

        const run_result r = run(args);
        EXPECT_EQ(r.signal, 0);
        EXPECT_EQ(r.status, row->status);
        EXPECT_EQ(r.out, row->out);
        EXPECT_EQ(r.err, row->err);
        std::set<std::string> files = {"k.elf", "app.so"};
        if (row->written) {
            files.insert("out.mo");
            EXPECT_TRUE(get("out.mo") == expected_module(image, *row->written)) << "module image differs";
        }
        EXPECT_EQ(files_in(path("")), files);
    }
    for (const kept_input& k : KEPT)
        EXPECT_EQ(kept.count(k.name), 1u) << "a row without a kept input: " << k.name;
}

} // namespace
