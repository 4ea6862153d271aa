// Little-endian values as they lie in a file, read at any alignment on any host: the one
// loader of the ELF records and of the bucket index's 8-byte words.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

// A field as it lies in the file: sizeof(T) bytes, least significant first, alignment 1.
// Takes a value, so that records can be written with designated initialisers.
template <typename T>
struct little_endian {
    std::array<std::uint8_t, sizeof(T)> bytes;

    little_endian() = default; // left as the memory was, like any plain field
    constexpr little_endian(T value) : bytes{}
    {
        for (std::size_t i = 0; i < sizeof(T); ++i)
            bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
    constexpr operator T() const
    {
        // On a little-endian host the bytes are the value: one load (assembled byte by byte,
        // the fields took a sixth of a run's instructions).
        if (!std::is_constant_evaluated() && std::endian::native == std::endian::little) {
            T value;
            std::memcpy(&value, bytes.data(), sizeof value);
            return value;
        }
        T value = 0;
        for (std::size_t i = sizeof(T); i-- > 0;)
            value = static_cast<T>(value << 8 | bytes[i]);
        return value;
    }
};

// The sizeof(T) bytes at `p` as one little-endian value.
template <typename T>
T load_little_endian(const void* p)
{
    little_endian<T> field;
    std::memcpy(&field, p, sizeof field);
    return field;
}
