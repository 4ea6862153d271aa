// Micro-benchmarks of the name hash table on kernel-shaped names: the bucket index against
// its plain per-byte definition, insertion into a table sized as the link-file stage sizes
// it, and lookup of one name in ten.
#include "input_generator.h"
#include "symtab/hash_table.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

// The definition itself: one remainder per byte.
std::int32_t plain_hash(const char* name, std::int32_t bucket_count)
{
    std::uint64_t h = 0;
    for (const char* p = name; *p != '\0'; ++p)
        h = (h * 16 + static_cast<unsigned char>(*p)) % static_cast<std::uint64_t>(bucket_count);
    return static_cast<std::int32_t>(h);
}

const std::vector<std::string>& names(std::uint32_t count)
{
    static std::vector<std::string> all = generate_function_names(1000000, 7);
    static std::vector<std::string> cut;
    if (cut.size() != count)
        cut.assign(all.begin(), all.begin() + count);
    return cut;
}

// A link file has about three symbols per function and twice as many buckets as symbols.
std::int32_t buckets_for(std::size_t functions) { return static_cast<std::int32_t>(6 * functions + 1); }

template <std::int32_t (*Hash)(const char*, std::int32_t)>
void bm_hash(benchmark::State& state)
{
    const std::vector<std::string>& n = names(1000); // in cache: the arithmetic alone
    const std::int32_t buckets = buckets_for(1000000);
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(Hash(n[i].c_str(), buckets));
        if (++i == n.size())
            i = 0;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(bm_hash<plain_hash>)->Name("hash/plain_definition");
BENCHMARK(bm_hash<hash_table_hash>)->Name("hash/hash_table_hash");

// The index as the stages compute it: the table keeps its divisor's reciprocal, and the
// name's length is already known.
void bm_table_index(benchmark::State& state)
{
    const std::vector<std::string>& n = names(1000);
    hash_table* table = hash_table_create(buckets_for(1000000));
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(hash_table_index(table, n[i]));
        if (++i == n.size())
            i = 0;
    }
    state.SetItemsProcessed(state.iterations());
    hash_table_destroy(table);
}
BENCHMARK(bm_table_index)->Name("hash/hash_table_index");

void bm_insert(benchmark::State& state)
{
    const std::vector<std::string>& n = names(static_cast<std::uint32_t>(state.range(0)));
    for (auto _ : state) {
        hash_table* table = hash_table_create(buckets_for(n.size()));
        for (const std::string& s : n)
            hash_table_insert(table, s.c_str(), &s);
        benchmark::DoNotOptimize(table);
        state.PauseTiming();
        hash_table_destroy(table);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(n.size()));
}
BENCHMARK(bm_insert)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

void bm_lookup(benchmark::State& state)
{
    const std::vector<std::string>& n = names(static_cast<std::uint32_t>(state.range(0)));
    hash_table* table = hash_table_create(buckets_for(n.size()));
    for (const std::string& s : n)
        hash_table_insert(table, s.c_str(), &s);
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(hash_table_lookup(table, n[i].c_str()));
        i += 10;
        if (i >= n.size())
            i -= n.size();
    }
    state.SetItemsProcessed(state.iterations());
    hash_table_destroy(table);
}
BENCHMARK(bm_lookup)->Arg(10000)->Arg(100000)->Arg(1000000);

} // namespace

BENCHMARK_MAIN();
