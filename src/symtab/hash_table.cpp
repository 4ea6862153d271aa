#include "symtab/hash_table.h"

#include "platform/prefetch.h"
#include "symtab/bucket_index.h"

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

// An entry's head: the next position, then the value's bytes; the name starts after it.
constexpr std::size_t NEXT_WORD = 0, VALUE_WORD = 1, NAME_WORD = 3;
static_assert(sizeof(const void*) <= 8, "a value must fit in two words");

// Positions stay below 2^32 - 1.
constexpr std::uint64_t POSITION_LIMIT = 0xffffffffu;

unsigned block_of(const hash_table* table, std::uint64_t position)
{
    return static_cast<unsigned>(std::bit_width((position >> table->first_block_shift) + 1)) - 1;
}

std::uint64_t block_first(const hash_table* table, unsigned block)
{
    return ((std::uint64_t{1} << block) - 1) << table->first_block_shift;
}

std::uint64_t block_end(const hash_table* table, unsigned block)
{
    const std::uint64_t end = block_first(table, block + 1);
    return end < POSITION_LIMIT ? end : POSITION_LIMIT;
}

std::uint32_t* entry_at(const hash_table* table, std::uint64_t position)
{
    const unsigned block = block_of(table, position);
    return static_cast<std::uint32_t*>(table->arena[block].start) + (position - block_first(table, block));
}

// The arena's first block: twice as many words as there are buckets, a power of two from 4 Ki
// to 16 Mi words, enough for a link file's functions and their names.
unsigned first_block_shift_for(std::int32_t bucket_count)
{
    const unsigned shift = static_cast<unsigned>(std::bit_width(2 * static_cast<std::uint64_t>(bucket_count)));
    return shift < 12 ? 12 : shift > 24 ? 24 : shift;
}

const char* name_at(const std::uint32_t* entry)
{
    return reinterpret_cast<const char*>(entry + NAME_WORD);
}

const void* value_at(const std::uint32_t* entry)
{
    const void* value = nullptr;
    std::memcpy(&value, entry + VALUE_WORD, sizeof value);
    return value;
}

// A block of `size` bytes (zero-filled when `zeroed`); none when the size is beyond the address
// space, as it can be on a 32-bit host.
memory_block allocate_bytes(std::uint64_t size, bool zeroed)
{
    if (size > SIZE_MAX)
        return {};
    return allocate_block(static_cast<std::size_t>(size), zeroed);
}

// The position for an entry of `words` words: the next free one, or the start of a later
// block when the entry does not fit in what is left of the current one. Allocates that
// block if needed and makes it the one inserts fill; 0 (and the table unchanged) when it
// cannot.
std::uint64_t place_entry(hash_table* table, std::uint64_t words)
{
    std::uint64_t position = table->arena_used;
    unsigned block = block_of(table, position);
    while (position + words > block_end(table, block)) {
        if (block + 1 == ARENA_BLOCKS)
            return 0;
        position = block_first(table, ++block);
    }
    if (table->arena[block].start == nullptr) {
        const std::uint64_t words_in_block = block_end(table, block) - block_first(table, block);
        const memory_block got = allocate_bytes(words_in_block * sizeof(std::uint32_t), false);
        if (got.start == nullptr)
            return 0;
        table->arena[block] = got;
    }
    table->next_entry = static_cast<std::uint32_t*>(table->arena[block].start) + (position - block_first(table, block));
    table->block_end = block_end(table, block);
    return position;
}

} // namespace

std::int32_t hash_table_hash(const char* name, std::int32_t bucket_count)
{
    const auto d = static_cast<std::uint64_t>(bucket_count);
    return bucket_index(name, d, bucket_reciprocal(d));
}

std::int32_t hash_table_index(const hash_table* table, std::string_view name)
{
    return bucket_index(name, static_cast<std::uint64_t>(table->bucket_count), table->reciprocal);
}

hash_table* hash_table_create(std::int32_t bucket_count)
{
    auto* table = static_cast<hash_table*>(std::malloc(sizeof(hash_table)));
    if (table == nullptr)
        return nullptr;
    *table = hash_table{};
    table->bucket_count = bucket_count;
    table->reciprocal = bucket_reciprocal(static_cast<std::uint64_t>(bucket_count));
    table->arena_used = 1;
    if (bucket_count <= 0)
        return table;
    table->first_block_shift = first_block_shift_for(bucket_count);
    // The buckets share one block with the arena's first block: at 10k functions the two took
    // one huge page, where the buckets' own pages cost a tenth of the run in faults. Sizes in 64
    // bits: on a 32-bit host a size_t would wrap 2^30 buckets' 4 GiB to a block far too small.
    const std::uint64_t bucket_bytes = std::uint64_t{static_cast<std::uint32_t>(bucket_count)} * sizeof(std::uint32_t);
    const std::uint64_t first_block_bytes = (block_end(table, 0) - block_first(table, 0)) * sizeof(std::uint32_t);
    // Short of memory, the buckets alone: the first insert then fails as it would have.
    table->bucket_block = allocate_bytes(bucket_bytes + first_block_bytes, true);
    const bool shared = table->bucket_block.start != nullptr;
    if (!shared)
        table->bucket_block = allocate_bytes(bucket_bytes, true);
    if (table->bucket_block.start == nullptr) {
        std::free(table);
        return nullptr;
    }
    table->buckets = static_cast<std::uint32_t*>(table->bucket_block.start);
    if (shared)
        table->arena[0].start = table->buckets + bucket_count; // freed with the buckets
    return table;
}

int hash_table_insert(hash_table* table, const char* name, const void* value)
{
    const std::string_view key(name);
    return hash_table_insert_at(table, hash_table_index(table, key), key, value);
}

int hash_table_insert_at(hash_table* table, std::int32_t index, std::string_view name, const void* value)
{
    if (table->bucket_count <= 0) // no bucket to hold the entry
        return -1;
    const std::uint64_t words = NAME_WORD + (std::uint64_t{name.size()} + 1 + 3) / 4;
    std::uint64_t position = table->arena_used;
    if (position + words > table->block_end && (position = place_entry(table, words)) == 0)
        return -1;
    std::uint32_t* entry = table->next_entry;
    entry[words - 1] = 0; // the padding after the name, and its NUL
    entry[NEXT_WORD] = table->buckets[index];
    std::memcpy(entry + VALUE_WORD, &value, sizeof value);
    std::memcpy(entry + NAME_WORD, name.data(), name.size());
    reinterpret_cast<char*>(entry + NAME_WORD)[name.size()] = '\0';
    table->buckets[index] = static_cast<std::uint32_t>(position);
    table->arena_used = position + words;
    table->next_entry = entry + words;
    return 0;
}

const void* hash_table_lookup(const hash_table* table, const char* name)
{
    if (table == nullptr || table->bucket_count <= 0)
        return nullptr;
    const std::string_view key(name);
    lookup_budget unbounded{std::numeric_limits<std::uint64_t>::max()}; // no chain costs 2^64
    return hash_table_lookup_at(table, hash_table_index(table, key), key, unbounded);
}

const void* hash_table_lookup_at(const hash_table* table, std::int32_t index, std::string_view name,
                                 lookup_budget& budget)
{
    const std::uint64_t cost = 1 + name.size();
    for (std::uint32_t at = table->buckets[index]; at != 0;) {
        if (budget.cost_left < cost) {
            budget.cost_left = 0;
            budget.exhausted = true;
            return nullptr;
        }
        budget.cost_left -= cost;
        const std::uint32_t* entry = entry_at(table, at);
        if (std::strcmp(name_at(entry), name.data()) == 0)
            return value_at(entry);
        at = entry[NEXT_WORD];
    }
    return nullptr;
}

void hash_table_prefetch(const hash_table* table, std::int32_t index)
{
    prefetch<true>(table->buckets + index); // an insert writes the bucket
}

int hash_table_remove(hash_table* table, const char* name)
{
    if (table->bucket_count <= 0)
        return -1;
    std::uint32_t* link = &table->buckets[hash_table_index(table, name)];
    while (*link != 0) {
        std::uint32_t* entry = entry_at(table, *link);
        if (std::strcmp(name_at(entry), name) == 0) {
            *link = entry[NEXT_WORD];
            return 1;
        }
        link = &entry[NEXT_WORD];
    }
    return -1;
}

int hash_table_destroy(hash_table* table)
{
    for (const memory_block& block : table->arena)
        free_block(block);
    free_block(table->bucket_block);
    std::free(table);
    return 1;
}
