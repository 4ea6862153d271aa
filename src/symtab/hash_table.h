// A chained hash table from a NUL-terminated name to an untyped reference.
// The table owns copies of the names; it never owns or inspects the values.
// Sized once at creation: no resizing, no rehashing.
#pragma once

#include <cstddef>
#include <cstdint>

struct hash_entry {
    char* name;        // the table's own copy, NUL included
    const void* value; // the caller's reference, stored as passed
    hash_entry* next;  // next entry of the same chain, newest first
};

struct hash_table {
    hash_entry** buckets;
    std::int32_t bucket_count;
};

// A new table with every bucket empty, or nullptr when memory cannot be had.
// A count of 0 gives a table without buckets.
hash_table* hash_table_create(std::int32_t bucket_count);

// 0 on success; -1 when the entry or its name copy cannot be allocated (the table is
// then as it was). The table must have at least one bucket.
int hash_table_insert(hash_table* table, const char* name, const void* value);

// The value of the newest entry whose whole name equals `name`, or nullptr. An absent
// table or one of 0 buckets finds nothing.
const void* hash_table_lookup(const hash_table* table, const char* name);

// 1 after unlinking and freeing the newest entry named `name`; -1 when there is none.
int hash_table_remove(hash_table* table, const char* name);

// Frees every entry, every name copy, the buckets and the table; the values are left
// alone. Returns 1.
int hash_table_destroy(hash_table* table);

// The bucket index: h <- (h * 16 + b) mod bucket_count for each byte b of the name.
// bucket_count must be at least 1.
std::int32_t hash_table_hash(const char* name, std::int32_t bucket_count);
