#include "symtab/hash_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

int v1, v2, v3;

struct table_guard {
    hash_table* table;
    explicit table_guard(std::int32_t buckets) : table(hash_table_create(buckets)) {}
    ~table_guard()
    {
        if (table != nullptr)
            hash_table_destroy(table);
    }
};

TEST(HashTableHash, MatchesHandComputedIndices)
{
    EXPECT_EQ(hash_table_hash("a", 7), 6);
    EXPECT_EQ(hash_table_hash("ab", 100), 50);
    EXPECT_EQ(hash_table_hash("task_create", 2000003), 1354447);
    EXPECT_EQ(hash_table_hash("task_delete", 2000003), 1580751);
    // Bucket counts where h * 16 + b no longer fits in 32 bits.
    EXPECT_EQ(hash_table_hash("os_sem_wait_timeout", 134217713), 46291590);
    EXPECT_EQ(hash_table_hash("os_sem_wait_timeout", 2147483647), 594759987);
    // Bytes are taken as 0..255, never sign-extended.
    EXPECT_EQ(hash_table_hash("\xff\xfe\xfdkernel_panic_handler", 2147483647), 585248528);
}

TEST(HashTableHash, EmptyNameIsBucketZero)
{
    EXPECT_EQ(hash_table_hash("", 1), 0);
    EXPECT_EQ(hash_table_hash("", 12345), 0);
}

TEST(HashTable, LaterDuplicateWinsAndRemovalPeelsNewestFirst)
{
    table_guard g(8);
    ASSERT_NE(g.table, nullptr);
    ASSERT_EQ(hash_table_insert(g.table, "k_print", &v1), 0);
    ASSERT_EQ(hash_table_insert(g.table, "k_print", &v2), 0);
    EXPECT_EQ(hash_table_lookup(g.table, "k_print"), &v2);
    EXPECT_EQ(hash_table_remove(g.table, "k_print"), 1);
    EXPECT_EQ(hash_table_lookup(g.table, "k_print"), &v1);
    EXPECT_EQ(hash_table_remove(g.table, "k_print"), 1);
    EXPECT_EQ(hash_table_lookup(g.table, "k_print"), nullptr);
    EXPECT_EQ(hash_table_remove(g.table, "k_print"), -1);
}

TEST(HashTable, SharedPrefixesInOneBucketAreDistinctKeys)
{
    table_guard g(1); // every name in the same chain
    ASSERT_EQ(hash_table_insert(g.table, "task_create", &v1), 0);
    ASSERT_EQ(hash_table_insert(g.table, "task_delete", &v2), 0);
    ASSERT_EQ(hash_table_insert(g.table, "task", &v3), 0);
    EXPECT_EQ(hash_table_lookup(g.table, "task_create"), &v1);
    EXPECT_EQ(hash_table_lookup(g.table, "task_delete"), &v2);
    EXPECT_EQ(hash_table_lookup(g.table, "task"), &v3);
    EXPECT_EQ(hash_table_lookup(g.table, "task_"), nullptr);
    EXPECT_EQ(hash_table_lookup(g.table, "task_create_ex"), nullptr);
    // Removing from the middle of the chain keeps the rest reachable.
    EXPECT_EQ(hash_table_remove(g.table, "task_delete"), 1);
    EXPECT_EQ(hash_table_lookup(g.table, "task_create"), &v1);
    EXPECT_EQ(hash_table_lookup(g.table, "task"), &v3);
}

TEST(HashTable, EmptyNameIsAnOrdinaryKey)
{
    table_guard g(5);
    EXPECT_EQ(hash_table_lookup(g.table, ""), nullptr);
    ASSERT_EQ(hash_table_insert(g.table, "", &v1), 0);
    EXPECT_EQ(hash_table_lookup(g.table, ""), &v1);
    EXPECT_EQ(hash_table_lookup(g.table, "x"), nullptr);
}

TEST(HashTable, ZeroBucketsFindNothingAndAbsentTableFindsNothing)
{
    table_guard g(0);
    ASSERT_NE(g.table, nullptr);
    EXPECT_EQ(g.table->bucket_count, 0);
    EXPECT_EQ(hash_table_lookup(g.table, "k_print"), nullptr);
    EXPECT_EQ(hash_table_remove(g.table, "k_print"), -1);
    EXPECT_EQ(hash_table_lookup(nullptr, "k_print"), nullptr);
}

TEST(HashTable, KeepsItsOwnCopyOfEachName)
{
    table_guard g(16);
    std::string name = "k_alloc";
    ASSERT_EQ(hash_table_insert(g.table, name.c_str(), &v1), 0);
    name[0] = 'x';
    EXPECT_EQ(hash_table_lookup(g.table, "k_alloc"), &v1);
    EXPECT_EQ(hash_table_lookup(g.table, "x_alloc"), nullptr);
}

TEST(HashTable, ManyNamesAllFoundInTheirOwnBucket)
{
    table_guard g(97);
    std::vector<std::string> names;
    for (int i = 0; i < 1000; ++i)
        names.push_back("sym_" + std::to_string(i * 7919));
    for (const std::string& n : names)
        ASSERT_EQ(hash_table_insert(g.table, n.c_str(), n.c_str()), 0);
    for (const std::string& n : names)
        EXPECT_EQ(hash_table_lookup(g.table, n.c_str()), n.c_str()) << n;
    for (std::int32_t b = 0; b < g.table->bucket_count; ++b)
        for (const hash_entry* e = g.table->buckets[b]; e != nullptr; e = e->next)
            EXPECT_EQ(hash_table_hash(e->name, g.table->bucket_count), b);
    EXPECT_EQ(hash_table_destroy(g.table), 1);
    g.table = nullptr;
}

} // namespace
