// Inputs kept under tests/hostile/crashes, each run through the binary.
#include "test_helpers.h"

#include <algorithm>

namespace fs = std::filesystem;

namespace {

class hostile_run_test : public tool_test {};

// Inputs that once broke something, kept under tests/hostile/crashes and named after it:
// link_file-* is a link file, module-* a linked image, pair-* a 4-byte length, a link file
// of that length and a linked image, options-* an argument vector split at NULs.
TEST_F(hostile_run_test, KeptCrashInputsEndCleanly)
{
    const fs::path dir = fs::path(MODWELD_HOSTILE_DIR) / "crashes";
    if (!fs::exists(dir))
        GTEST_SKIP() << "no kept inputs";
    for (const fs::directory_entry& e : fs::directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        SCOPED_TRACE(name);
        const bytes input = read_file(e.path());
        bytes link = pair().link, image = pair().image;
        std::vector<std::string> args = {"-l", "k.elf", "-o", "out.mo", "app.so"};
        if (name.rfind("link_file-", 0) == 0) {
            link = input;
        } else if (name.rfind("module-", 0) == 0) {
            image = input;
        } else if (name.rfind("pair-", 0) == 0 && input.size() >= 4) {
            const std::size_t n = std::min<std::size_t>(get_u32(input, 0), input.size() - 4);
            link.assign(input.begin() + 4, input.begin() + 4 + static_cast<std::ptrdiff_t>(n));
            image.assign(input.begin() + 4 + static_cast<std::ptrdiff_t>(n), input.end());
        } else if (name.rfind("options-", 0) == 0) {
            std::vector<std::string> parts(1);
            for (const std::uint8_t b : input) {
                if (b == 0)
                    parts.emplace_back();
                else
                    parts.back().push_back(static_cast<char>(b));
            }
            args.assign(parts.begin() + 1, parts.end()); // argv[0] is the binary's own
        } else {
            ADD_FAILURE() << "unknown kind of kept input";
            continue;
        }
        put("k.elf", link);
        put("app.so", image);
        fs::remove(path("out.mo"));
        const run_result r = run(args);
        EXPECT_EQ(r.signal, 0);
        EXPECT_TRUE(r.status == 0 || r.status == 1) << r.status;
        if (r.status == 0 && name.rfind("options-", 0) != 0) {
            EXPECT_EQ(get("out.mo").size(), image.size());
        }
    }
}

} // namespace
