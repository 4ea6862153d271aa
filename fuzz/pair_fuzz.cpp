// Both stages from one input: a 4-byte little-endian length, that many bytes of link file
// (fewer when the input is shorter), and the rest as the linked image.
#include "fuzz_support.h"

#include "cli/debug_flag.h"
#include "elf/link_symbols.h"
#include "elf/relocate.h"

#include <algorithm>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    silence_stdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 4)
        return -1; // not worth keeping in the corpus
    const bytes input(data, data + size);
    const std::size_t claimed = *read_u32(image_view{input.data(), input.size()}, 0); // size >= 4
    const std::size_t link_size = std::min(claimed, input.size() - 4);
    const bytes link(input.begin() + 4, input.begin() + 4 + static_cast<std::ptrdiff_t>(link_size));
    const bytes before(input.begin() + 4 + static_cast<std::ptrdiff_t>(link_size), input.end());

    reset_symbol_table();
    debug_flag = 1;
    const stage_result collected = collect_link_symbols(image_view{link.data(), link.size()});
    if (collected == stage_result::out_of_memory)
        return 0;
    const core_profile target = read_core_profile(image_view{link.data(), link.size()});
    bytes after = before;
    const stage_result result = relocate_module(image_span{after.data(), after.size()}, target);
    check_module_stage(before, after, result);
    reset_symbol_table();
    return 0;
}
