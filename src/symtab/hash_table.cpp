#include "symtab/hash_table.h"

#include <cstdlib>
#include <cstring>

std::int32_t hash_table_hash(const char* name, std::int32_t bucket_count)
{
    const auto d = static_cast<std::uint64_t>(bucket_count);
    std::uint64_t h = 0;
    for (const char* p = name; *p != '\0'; ++p)
        h = (h * 16 + static_cast<unsigned char>(*p)) % d;
    return static_cast<std::int32_t>(h);
}

hash_table* hash_table_create(std::int32_t bucket_count)
{
    auto* table = static_cast<hash_table*>(std::malloc(sizeof(hash_table)));
    if (table == nullptr)
        return nullptr;
    table->bucket_count = bucket_count;
    table->buckets = nullptr;
    if (bucket_count > 0) {
        table->buckets = static_cast<hash_entry**>(
            std::calloc(static_cast<std::size_t>(bucket_count), sizeof(hash_entry*)));
        if (table->buckets == nullptr) {
            std::free(table);
            return nullptr;
        }
    }
    return table;
}

int hash_table_insert(hash_table* table, const char* name, const void* value)
{
    const std::int32_t index = hash_table_hash(name, table->bucket_count);
    auto* entry = static_cast<hash_entry*>(std::malloc(sizeof(hash_entry)));
    if (entry == nullptr)
        return -1;
    const std::size_t size = std::strlen(name) + 1;
    entry->name = static_cast<char*>(std::malloc(size));
    if (entry->name == nullptr) {
        std::free(entry);
        return -1;
    }
    std::memcpy(entry->name, name, size);
    entry->value = value;
    entry->next = table->buckets[index];
    table->buckets[index] = entry;
    return 0;
}

const void* hash_table_lookup(const hash_table* table, const char* name)
{
    if (table == nullptr || table->bucket_count <= 0)
        return nullptr;
    for (const hash_entry* e = table->buckets[hash_table_hash(name, table->bucket_count)]; e != nullptr;
         e = e->next) {
        if (std::strcmp(e->name, name) == 0)
            return e->value;
    }
    return nullptr;
}

int hash_table_remove(hash_table* table, const char* name)
{
    if (table->bucket_count <= 0)
        return -1;
    hash_entry** link = &table->buckets[hash_table_hash(name, table->bucket_count)];
    for (hash_entry* e = *link; e != nullptr; link = &e->next, e = e->next) {
        if (std::strcmp(e->name, name) == 0) {
            *link = e->next;
            std::free(e->name);
            std::free(e);
            return 1;
        }
    }
    return -1;
}

int hash_table_destroy(hash_table* table)
{
    for (std::int32_t i = 0; i < table->bucket_count; ++i) {
        for (hash_entry* e = table->buckets[i]; e != nullptr;) {
            hash_entry* next = e->next;
            std::free(e->name);
            std::free(e);
            e = next;
        }
    }
    std::free(table->buckets);
    std::free(table);
    return 1;
}
