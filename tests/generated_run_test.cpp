// Whole runs on the benchmark generator's kernel-shaped inputs, small enough for the suite:
// the module image and every message must be exactly what the generator worked out on its
// own (later duplicates winning, Thumb bits kept, the module's own slots left alone).
#include "input_generator.h"
#include "run_tool.h"

namespace {

struct generated_case {
    std::uint32_t functions;
    std::uint64_t seed;
    bool with_contents;
};

// Says the case where it fails: printed byte by byte, its padding bytes would change from
// build to build.
void PrintTo(const generated_case& c, std::ostream* os)
{
    *os << c.functions << " functions, seed " << c.seed << (c.with_contents ? "" : ", symbols only");
}

class generated_run_test : public tool_test, public ::testing::WithParamInterface<generated_case> {};

TEST_P(generated_run_test, MatchesGenerator)
{
    generator_settings settings;
    settings.functions = GetParam().functions;
    settings.seed = GetParam().seed;
    settings.with_contents = GetParam().with_contents;
    settings.with_trace = true;
    const generated_inputs in = generate_inputs(settings);
    ASSERT_GT(in.filled_slots, 0u);
    ASSERT_GT(in.jump_slots, in.filled_slots);
    put("k.elf", in.link_file);
    put("app.so", in.linked_image);

    run_result r = run({"-l", "k.elf", "-o", "out.mo", "app.so"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "relocation sucessfully\n");
    EXPECT_TRUE(get("out.mo") == in.expected_image) << "module image differs";

    r = run({"-l", "k.elf", "-o", "traced.mo", "-D", "1", "app.so"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.out == in.expected_trace + "relocation sucessfully\n") << "trace differs";
    EXPECT_TRUE(get("traced.mo") == in.expected_image);
}

// The test list names a case by its size alone: each size and kind of input has one seed.
std::string size_name(const ::testing::TestParamInfo<generated_case>& info)
{
    return std::to_string(info.param.functions) + "_functions" + (info.param.with_contents ? "" : "_symbols_only");
}

INSTANTIATE_TEST_SUITE_P(Sizes, generated_run_test,
                         ::testing::Values(generated_case{40, 3, true}, generated_case{3000, 1, true},
                                           generated_case{3000, 2, false}, generated_case{20000, 5, false}),
                         size_name);

} // namespace
