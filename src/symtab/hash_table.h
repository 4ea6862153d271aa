// A chained hash table from a NUL-terminated name to an untyped reference, sized once at
// creation. It owns copies of the names; it never owns or inspects the values.
//
// The entries and their name copies share one arena (a 12-byte head, then the name and its NUL,
// padded to 4 bytes), and a chain links entries by their 32-bit position in it: against a heap
// block per entry and per name, half the memory, and a name in the cache line of its entry.
// The arena grows by blocks that double in size and never move.
#pragma once

#include "platform/memory_block.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

// Arena block k holds positions 2^first_block_shift * (2^k - 1) up to the next block's first;
// the first block has at least 4 Ki words, so 21 blocks hold every 32-bit position.
constexpr unsigned ARENA_BLOCKS = 21;

struct hash_table {
    std::uint32_t* buckets;   // position of each chain's newest entry; 0 for an empty chain
    std::int32_t bucket_count;
    std::uint64_t reciprocal; // floor(2^64 / bucket_count), for the bucket index
    unsigned first_block_shift;
    std::uint64_t arena_used; // the next free position (position 0 is never an entry)
    // Where that position lies while its block has room, and where the block ends: an insert
    // then places its entry without working out the block (a tenth of the instructions of a
    // million-function run went to that).
    std::uint32_t* next_entry;
    std::uint64_t block_end;
    memory_block bucket_block;
    memory_block arena[ARENA_BLOCKS]; // of 4-byte words; absent until needed
};

// A new table with every bucket empty, or nullptr when memory cannot be had.
// A count of 0 gives a table without buckets.
hash_table* hash_table_create(std::int32_t bucket_count);

// 0 on success; -1 when the entry cannot be allocated or the table has no bucket (the table
// is then as it was).
int hash_table_insert(hash_table* table, const char* name, const void* value);

// The value of the newest entry whose whole name equals `name`, or nullptr. An absent
// table or one of 0 buckets finds nothing.
const void* hash_table_lookup(const hash_table* table, const char* name);

// 1 after unlinking the newest entry named `name`; -1 when there is none. Its space in the
// arena is given back with the table.
int hash_table_remove(hash_table* table, const char* name);

// Frees the entries, the name copies, the buckets and the table; the values are left
// alone. Returns 1.
int hash_table_destroy(hash_table* table);

// The bucket index: h <- (h * 16 + b) mod bucket_count for each byte b of the name (see
// bucket_index.h). bucket_count must be at least 1.
std::int32_t hash_table_hash(const char* name, std::int32_t bucket_count);

// For callers that hash a batch of names first and prefetch their buckets, then insert or look
// up each at its index. `name` is the whole name without its NUL, NUL-terminated at data();
// the table must have at least one bucket.
std::int32_t hash_table_index(const hash_table* table, std::string_view name);
void hash_table_prefetch(const hash_table* table, std::int32_t index);
int hash_table_insert_at(hash_table* table, std::int32_t index, std::string_view name, const void* value);

// A lookup that stops once its comparisons have cost more than the budget left: one unit for
// each entry visited and one for each byte of `name` compared with it. A chain of many
// colliding names could otherwise make every lookup walk all of them. When the budget runs
// out the lookup gives nullptr and sets `exhausted`.
struct lookup_budget {
    std::uint64_t cost_left;
    bool exhausted = false;
};
const void* hash_table_lookup_at(const hash_table* table, std::int32_t index, std::string_view name,
                                 lookup_budget& budget);
