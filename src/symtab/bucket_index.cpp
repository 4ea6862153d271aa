#include "symtab/bucket_index.h"

#include "platform/little_endian.h"

#include <limits>

namespace {

#if defined(__SIZEOF_INT128__)
__extension__ typedef unsigned __int128 product_128;
#endif

// x mod d for any 64-bit x, with m = floor(2^64 / d). The quotient estimate hi64(x * m) is the
// true quotient or one less (m undershoots 2^64 / d by less than 1, and x / 2^64 < 1), so a
// single correction gives the exact remainder, at the cost of two multiplications instead
// of a division.
std::uint64_t reduce(std::uint64_t x, std::uint64_t d, [[maybe_unused]] std::uint64_t m)
{
#if defined(__SIZEOF_INT128__)
    const auto q = static_cast<std::uint64_t>((static_cast<product_128>(x) * m) >> 64);
    const std::uint64_t r = x - q * d;
    return r >= d ? r - d : r;
#else
    return x % d;
#endif
}

// The bytes of word w (first byte lowest) weighted as the per-byte rule weights them: the
// sum of byte i * 16^(7 - i). Bytes overlap by four bits, so lanes are folded pairwise:
// 2 bytes, then 4, then 8.
std::uint64_t fold_word(std::uint64_t w)
{
    const std::uint64_t pairs = ((w & 0x00ff00ff00ff00ffu) << 4) + ((w >> 8) & 0x00ff00ff00ff00ffu);
    const std::uint64_t quads = ((pairs & 0x0000ffff0000ffffu) << 8) + ((pairs >> 16) & 0x0000ffff0000ffffu);
    return ((quads & 0xffffffffu) << 16) + (quads >> 32);
}

} // namespace

// The bucket index of a one-bucket table is always 0.
std::uint64_t bucket_reciprocal(std::uint64_t bucket_count)
{
    if (bucket_count < 2)
        return 0;
    // 2^64 does not fit in 64 bits: floor(2^64 / n) is floor((2^64 - 1) / n), plus one when
    // n divides 2^64, that is when (2^64 - 1) mod n is n - 1.
    constexpr std::uint64_t MAX = std::numeric_limits<std::uint64_t>::max();
    return MAX / bucket_count + ((MAX % bucket_count) + 1 == bucket_count);
}

// The per-byte rule h <- (h * 16 + b) mod n gives the remainder of the whole polynomial, so
// the reduction can wait: with h < n < 2^31, h * 16^8 plus eight bytes' worth stays below
// 2^64, and one reduction per 8 bytes gives the same index (a 19-byte name: 10 ns against 40).
std::int32_t bucket_index(std::string_view name, std::uint64_t bucket_count, std::uint64_t reciprocal)
{
    if (bucket_count < 2)
        return 0;
    const auto* p = reinterpret_cast<const unsigned char*>(name.data());
    std::size_t left = name.size();
    std::uint64_t h = 0;
    for (; left >= 8; left -= 8, p += 8)
        h = reduce((h << 32) + fold_word(load_little_endian<std::uint64_t>(p)), bucket_count, reciprocal);
    if (left > 0) {
        // The last 1 to 7 bytes: from the name's last 8 bytes, shifted down to them and folded,
        // where the name has 8; the fold's empty lanes are its low powers of 16, shifted off. A
        // byte loop there, its trip count differing from name to name, mispredicted its exits.
        std::uint64_t tail = 0;
        if (name.size() >= 8) {
            tail = fold_word(load_little_endian<std::uint64_t>(p + left - 8) >> (64 - 8 * left)) >> (32 - 4 * left);
        } else {
            for (std::size_t i = 0; i < left; ++i)
                tail = tail * 16 + p[i];
        }
        h = reduce((h << (4 * left)) + tail, bucket_count, reciprocal);
    }
    return static_cast<std::int32_t>(h);
}
