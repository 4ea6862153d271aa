// The module stage on arbitrary bytes, against the functions of a fixed real link file, for
// targets of every kind of core and float convention.
#include "fuzz_support.h"

#include "elf/link_symbols.h"
#include "elf/relocate.h"

namespace {
hash_table* functions = nullptr; // the embedded link file's, for every input
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    silence_stdout();
    const stage_result result =
        collect_link_symbols(image_view{EMBEDDED_LINK_FILE, EMBEDDED_LINK_FILE_SIZE}, functions, false);
    require(result == stage_result::ok && functions != nullptr, "the embedded link file gives a table");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const bytes before(data, data + size);
    const build_attributes targets[] = {
        {},
        {target_core::thumb2_m, float_args::core_registers},
        {target_core::armv6_m, float_args::vfp_registers},
        {target_core::armv8_m_baseline, float_args::core_registers},
    };
    for (const build_attributes& target : targets) {
        bytes after = before;
        const stage_result result = relocate_module(image_span{after.data(), after.size()}, {functions, target, true});
        check_module_stage(before, after, result);
    }
    return 0;
}
