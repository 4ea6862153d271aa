// The link-file stage on arbitrary bytes.
#include "fuzz_support.h"

#include "elf/build_attributes.h"
#include "elf/elf32.h"
#include "elf/link_symbols.h"

#include <functional>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    silence_stdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const bytes link(data, data + size);
    const image_view view{link.data(), link.size()};
    hash_table* table = nullptr;
    const stage_result result = collect_link_symbols(view, table, true);
    require(result == stage_result::ok || result == stage_result::failed || result == stage_result::out_of_memory,
            "collect_link_symbols returns a stage result");
    if (!check_elf_header(view))
        require(result == stage_result::failed && table == nullptr, "an input that is not ELF32 gives no table");
    // The attributes reader stays inside the buffer, whatever the attributes hold.
    (void)read_build_attributes(view);
    // Whatever was entered refers to a whole symbol record inside the buffer.
    for (const char* name : {"sys_write", "sys_add", "sys_twice", "sys_thumb", "_start", ""}) {
        const void* found = hash_table_lookup(table, name);
        if (found == nullptr)
            continue;
        const auto* record = static_cast<const std::uint8_t*>(found);
        const std::less_equal<const std::uint8_t*> le;
        require(le(link.data(), record) && link.size() >= sizeof(Elf32_Sym) &&
                    le(record, link.data() + (link.size() - sizeof(Elf32_Sym))),
                "a table entry refers to a record inside the link file");
        (void)record_at<Elf32_Sym>(found).st_value;
    }
    if (table != nullptr)
        hash_table_destroy(table);
    return 0;
}
