#include "symtab/hash_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#if defined(__linux__)
#include "address_space.h"
#endif

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
    const struct {
        const char* name;
        std::int32_t bucket_count, index;
    } rows[] = {
        {"", 1, 0},
        {"", 12345, 0},
        {"a", 7, 6},
        {"ab", 100, 50},
        {"task_create", 2000003, 1354447},
        {"task_delete", 2000003, 1580751},
        // Bucket counts where h * 16 + b no longer fits in 32 bits.
        {"os_sem_wait_timeout", 134217713, 46291590},
        {"os_sem_wait_timeout", 2147483647, 594759987},
        // Bytes are taken as 0..255, never sign-extended.
        {"\xff\xfe\xfdkernel_panic_handler", 2147483647, 585248528},
    };
    for (const auto& r : rows)
        EXPECT_EQ(hash_table_hash(r.name, r.bucket_count), r.index) << r.name << " in " << r.bucket_count;
}

// The bucket index straight from its definition: a remainder at every byte.
std::int32_t plain_hash(const std::string& name, std::int32_t bucket_count)
{
    std::uint64_t h = 0;
    for (unsigned char b : name)
        h = (h * 16 + b) % static_cast<std::uint64_t>(bucket_count);
    return static_cast<std::int32_t>(h);
}

TEST(HashTableHash, EqualsThePerByteDefinitionForAnyBucketCountAndBytes)
{
    std::mt19937_64 rng(20240601);
    std::vector<std::int32_t> counts = {1,          2,          3,          7,          15,         16,
                                        17,         255,        256,        4096,       65521,      1 << 20,
                                        2000003,    134217713,  134217728,  1 << 30,    1073741825, 2147483629,
                                        2147483646, 2147483647};
    for (int i = 0; i < 200; ++i)
        counts.push_back(static_cast<std::int32_t>(1 + rng() % 2147483647u));
    for (int i = 0; i < 50; ++i)
        counts.push_back(static_cast<std::int32_t>(1 + rng() % 5000));

    std::vector<std::string> names = {"", "a", "task_create", "os_sem_wait_timeout", "12345678", "123456789",
                                      "1234567890123456", std::string(64, '\xff'), std::string(7, '\xff'),
                                      std::string(8, '\x80'), std::string(9, '\x01')};
    for (int i = 0; i < 300; ++i) {
        std::string n(rng() % 41, ' ');
        for (char& c : n)
            c = static_cast<char>(1 + rng() % 255); // any byte but NUL, 0x80-0xff included
        names.push_back(n);
    }
    for (std::int32_t d : counts)
        for (const std::string& n : names)
            ASSERT_EQ(hash_table_hash(n.c_str(), d), plain_hash(n, d)) << "bucket count " << d << ", name of "
                                                                        << n.size() << " bytes";
}

TEST(HashTableHash, TableIndexEqualsTheFreeFunction)
{
    for (std::int32_t d : {1, 2, 97, 600011}) {
        table_guard g(d);
        for (const char* n : {"", "k_print", "a_name_longer_than_sixteen_bytes", "\xfe\xff\x80"})
            EXPECT_EQ(hash_table_index(g.table, n), hash_table_hash(n, d)) << d << " " << n;
    }
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
    // No bucket can hold an entry: refused, not written anywhere.
    EXPECT_EQ(hash_table_insert(g.table, "k_print", &v1), -1);
    EXPECT_EQ(hash_table_insert_at(g.table, 0, "k_print", &v1), -1);
    EXPECT_EQ(hash_table_lookup(g.table, "k_print"), nullptr);
}

#if SIZE_MAX <= UINT32_MAX
// On a 32-bit host 2^30 buckets or more take 4 GiB, beyond the address space: no table, rather
// than one whose buckets overrun the block they were given.
TEST(HashTable, BucketsBeyondTheAddressSpaceMakeNoTable)
{
    for (const std::int32_t buckets : {1 << 30, 1073741825, 2147483647})
        EXPECT_EQ(hash_table_create(buckets), nullptr) << buckets;
}
#endif

TEST(HashTable, KeepsItsOwnCopyOfEachName)
{
    table_guard g(16);
    std::string name = "k_alloc";
    ASSERT_EQ(hash_table_insert(g.table, name.c_str(), &v1), 0);
    name[0] = 'x';
    EXPECT_EQ(hash_table_lookup(g.table, "k_alloc"), &v1);
    EXPECT_EQ(hash_table_lookup(g.table, "x_alloc"), nullptr);
}

// A lookup at bucket `index` that no budget stops.
const void* lookup_at(const hash_table* table, std::int32_t index, const std::string& name)
{
    lookup_budget unbounded{UINT64_MAX};
    return hash_table_lookup_at(table, index, name, unbounded);
}

// Each entry lies in the bucket that hash_table_hash gives its name, and in no other.
TEST(HashTable, ManyNamesAllFoundInTheirOwnBucket)
{
    table_guard g(97);
    std::vector<std::string> names;
    for (int i = 0; i < 1000; ++i)
        names.push_back("sym_" + std::to_string(i * 7919));
    for (const std::string& n : names)
        ASSERT_EQ(hash_table_insert(g.table, n.c_str(), n.c_str()), 0);
    for (const std::string& n : names) {
        const std::int32_t bucket = hash_table_hash(n.c_str(), 97);
        EXPECT_EQ(hash_table_lookup(g.table, n.c_str()), n.c_str()) << n;
        EXPECT_EQ(lookup_at(g.table, bucket, n), n.c_str()) << n;
        EXPECT_EQ(lookup_at(g.table, (bucket + 1) % 97, n), nullptr) << n;
    }
    EXPECT_EQ(hash_table_destroy(g.table), 1);
    g.table = nullptr;
}

// The values of every entry named `name`, newest first, as lookups find them while each is
// removed in turn; the table is left without that name.
std::vector<const void*> peel(hash_table* table, const std::string& name)
{
    std::vector<const void*> found;
    for (const void* v; (v = hash_table_lookup(table, name.c_str())) != nullptr;) {
        found.push_back(v);
        if (hash_table_remove(table, name.c_str()) != 1)
            break;
    }
    return found;
}

// Removing the newest of equal names uncovers the one entered before it, wherever the chain
// holds other names too.
TEST(HashTable, ChainsRunNewestFirstWithDuplicatesKept)
{
    const char* names[] = {"init", "probe", "init", "usb_device_probe", "init", "", "probe"};
    int v[7];
    for (std::int32_t buckets : {1, 3, 64}) {
        table_guard g(buckets);
        for (int i = 0; i < 7; ++i)
            ASSERT_EQ(hash_table_insert(g.table, names[i], &v[i]), 0);
        EXPECT_EQ(peel(g.table, "init"), (std::vector<const void*>{&v[4], &v[2], &v[0]})) << buckets << " buckets";
        EXPECT_EQ(peel(g.table, "probe"), (std::vector<const void*>{&v[6], &v[1]})) << buckets << " buckets";
        EXPECT_EQ(peel(g.table, "usb_device_probe"), (std::vector<const void*>{&v[3]})) << buckets << " buckets";
        EXPECT_EQ(peel(g.table, ""), (std::vector<const void*>{&v[5]})) << buckets << " buckets";
    }
}

TEST(HashTable, BatchedInsertAndLookupAreTheSameAsOneByOne)
{
    table_guard one(101), batched(101);
    std::vector<std::string> names;
    for (int i = 0; i < 300; ++i)
        names.push_back("k_fn_" + std::to_string(i % 250)); // some names twice
    for (const std::string& n : names)
        ASSERT_EQ(hash_table_insert(one.table, n.c_str(), &n), 0);
    std::vector<std::int32_t> index;
    for (const std::string& n : names) {
        index.push_back(hash_table_index(batched.table, n));
        hash_table_prefetch(batched.table, index.back());
    }
    for (std::size_t i = 0; i < names.size(); ++i)
        ASSERT_EQ(hash_table_insert_at(batched.table, index[i], names[i], &names[i]), 0);
    for (std::size_t i = 0; i < names.size(); ++i)
        EXPECT_EQ(lookup_at(batched.table, index[i], names[i]), hash_table_lookup(one.table, names[i].c_str()));
    for (const std::string& n : names)
        EXPECT_EQ(peel(batched.table, n), peel(one.table, n)) << n;
}

#if defined(__linux__)
// Runs out of address space on purpose, in a child process: a failed insert returns -1 and
// leaves every earlier entry and every chain as it was; a table that cannot get its buckets
// is not made at all.
TEST(HashTableDeathTest, AllocationFailureLeavesTheTableAsItWas)
{
#ifdef MODWELD_SANITIZED
    GTEST_SKIP() << "an address space limit and the sanitizers' shadow memory do not mix";
#endif
    EXPECT_EXIT(
        {
            hash_table* table = hash_table_create(1000);
            const std::optional<rlimit> uncapped = cap_address_space(16u << 20);
            if (!uncapped)
                std::exit(3);
            const std::string name(200, 'n');
            for (int i = 0; i < 10000000; ++i) {
                if (hash_table_insert(table, (name + std::to_string(i)).c_str(), table) == 0)
                    continue;
                if (hash_table_lookup(table, (name + std::to_string(i)).c_str()) != nullptr)
                    std::exit(4);
                if (hash_table_create(1 << 30) != nullptr)
                    std::exit(6);
                setrlimit(RLIMIT_AS, &*uncapped);
                // Every name of the failed one's chain is still found, and a sample of the others.
                const std::int32_t bucket = hash_table_hash((name + std::to_string(i)).c_str(), 1000);
                for (int j = 0; j < i; ++j) {
                    const std::string earlier = name + std::to_string(j);
                    if ((j % 1000 == 0 || hash_table_hash(earlier.c_str(), 1000) == bucket) &&
                        hash_table_lookup(table, earlier.c_str()) != table)
                        std::exit(5);
                }
                std::exit(i > 10000 ? 0 : 7);
            }
            std::exit(8);
        },
        ::testing::ExitedWithCode(0), "");
}
#endif

// The tables' and the inputs' blocks, big ones mapped with huge pages where the system has them:
// each must come zero-filled when asked, apart from the others, and stay usable whatever is
// freed before it.
TEST(MemoryBlock, BlocksAreZeroApartAndOutliveTheBlocksFreedBeforeThem)
{
    const std::size_t sizes[] = {1 << 20, 600 << 10, 5 << 20, 320 << 10, 100, (3 << 20) + 5, 2 << 20};
    std::vector<memory_block> blocks;
    for (const std::size_t size : sizes) {
        const memory_block block = allocate_block(size, true);
        ASSERT_NE(block.start, nullptr) << size;
        const auto* bytes = static_cast<const unsigned char*>(block.start);
        EXPECT_TRUE(std::all_of(bytes, bytes + size, [](unsigned char b) { return b == 0; })) << size;
        std::memset(block.start, 0xff, size); // to its last byte: no later block may see it
        blocks.push_back(block);
    }
    for (std::size_t i = 0; i < blocks.size(); ++i)
        std::memset(blocks[i].start, static_cast<int>(i + 1), sizes[i]);
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        if (i % 2 == 0)
            continue;
        free_block(blocks[i - 1]);
        const auto* bytes = static_cast<const unsigned char*>(blocks[i].start);
        EXPECT_TRUE(std::all_of(bytes, bytes + sizes[i], [i](unsigned char b) { return b == i + 1; })) << sizes[i];
        free_block(blocks[i]);
    }
    free_block(blocks.back());
    const memory_block again = allocate_block(1 << 20, true);
    ASSERT_NE(again.start, nullptr);
    const auto* bytes = static_cast<const unsigned char*>(again.start);
    EXPECT_TRUE(std::all_of(bytes, bytes + (1 << 20), [](unsigned char b) { return b == 0; }));
    free_block(again);
}

TEST(HashTableLookupBudget, EachEntryVisitedCostsOnePlusTheNameLength)
{
    table_guard g(1); // one chain: c, b, a
    for (const char* n : {"a", "b", "c"})
        ASSERT_EQ(hash_table_insert(g.table, n, n), 0);
    lookup_budget enough{6}; // three visits of 2 units
    EXPECT_STREQ(static_cast<const char*>(hash_table_lookup_at(g.table, 0, "a", enough)), "a");
    EXPECT_EQ(enough.cost_left, 0u);
    EXPECT_FALSE(enough.exhausted);

    lookup_budget short_of_one{5};
    EXPECT_EQ(hash_table_lookup_at(g.table, 0, "a", short_of_one), nullptr);
    EXPECT_TRUE(short_of_one.exhausted);
    EXPECT_EQ(short_of_one.cost_left, 0u);
    // Once spent, even the chain's first entry is out of reach.
    EXPECT_EQ(hash_table_lookup_at(g.table, 0, "c", short_of_one), nullptr);
}

} // namespace
