#include "elf/read_ahead.h"

#include "platform/prefetch.h"

// A hint reads a name only this far: a crafted name without a NUL must not cost a scan of the
// file for every symbol.
constexpr std::uint64_t HINT_NAME_SCAN = 256;

void prefetch_image(image_view image, std::uint64_t offset)
{
    if (offset < image.size())
        prefetch(image.data() + offset);
}

void read_name_ahead(image_view image, const Elf32_Shdr& strtab, std::uint32_t st_name, const hash_table* table,
                     name_ahead& ahead)
{
    ahead.bucket.reset();
    if (!READ_AHEAD || table == nullptr || table->bucket_count <= 0)
        return;
    const std::optional<std::string_view> name = read_name(image, strtab, st_name, HINT_NAME_SCAN);
    if (!name)
        return;
    ahead.name = *name;
    ahead.bucket = hash_table_index(table, *name);
    hash_table_prefetch(table, *ahead.bucket);
}
