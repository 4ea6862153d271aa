// Both stages from one input: a 4-byte little-endian length, that many bytes of link file
// (fewer when the input is shorter), and the rest as the linked image.
#include "fuzz_input.h"
#include "fuzz_support.h"

#include "elf/link_symbols.h"
#include "elf/relocate.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    silence_stdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::optional<pair_input> input = split_pair({data, size});
    if (!input)
        return -1; // not worth keeping in the corpus
    const bytes& link = input->link;
    const bytes& before = input->image;

    hash_table* table = nullptr;
    const stage_result collected = collect_link_symbols(image_view{link.data(), link.size()}, table, true);
    if (collected != stage_result::out_of_memory) {
        const build_attributes target = read_build_attributes(image_view{link.data(), link.size()});
        bytes after = before;
        const module_stage_inputs facts{table, target, true, image_view{link.data(), link.size()},
                                    collected == stage_result::ok && table == nullptr};
        const stage_result result = relocate_module(image_span{after.data(), after.size()}, facts);
        check_module_stage(before, after, result);
    }
    if (table != nullptr)
        hash_table_destroy(table);
    return 0;
}
