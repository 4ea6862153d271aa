// The bucket of a name in the symbol table: h <- (h * 16 + b) mod bucket_count for each
// byte b of the name, computed here with one reduction per 8 bytes and a multiply in place of
// each division. Proved equal to the per-byte remainder by a test over many bucket counts up
// to 2^31 - 1 and random bytes.
#pragma once

#include <cstdint>
#include <string_view>

// floor(2^64 / bucket_count) for a count of at least 2, else 0: computed once per table.
std::uint64_t bucket_reciprocal(std::uint64_t bucket_count);

// The bucket index of `name` (without its NUL) in a table of `bucket_count` buckets, whose
// reciprocal is `reciprocal`; 0 for a table of fewer than 2 buckets.
std::int32_t bucket_index(std::string_view name, std::uint64_t bucket_count, std::uint64_t reciprocal);
