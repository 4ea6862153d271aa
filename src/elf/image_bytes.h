// The one place that touches the bytes of an image buffer.
//
// Every field is decoded little-endian at a byte offset, unaligned, on any host.
// Offsets come from the file and are 32-bit; bounds are computed in 64 bits so that
// offset + size never wraps. Anything that does not lie wholly inside the buffer is
// absent: nothing here reads or writes outside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

using image_view = std::span<const std::uint8_t>;
using image_span = std::span<std::uint8_t>;

// True when the `length` bytes at `offset` lie wholly inside a buffer of `size` bytes.
constexpr bool range_inside(std::size_t size, std::uint64_t offset, std::uint64_t length)
{
    return offset <= size && length <= size - offset;
}

std::optional<std::uint8_t> read_u8(image_view image, std::uint64_t offset);
std::optional<std::uint16_t> read_u16(image_view image, std::uint64_t offset);
std::optional<std::uint32_t> read_u32(image_view image, std::uint64_t offset);

// The unsigned LEB128 number at `offset`, which must end before `end` (at most the buffer's
// size); `offset` then moves past it. Absent when it runs to `end` or beyond 64 bits.
std::optional<std::uint64_t> read_uleb128(image_view image, std::uint64_t& offset, std::uint64_t end);

// Stores `value` little-endian at `offset`; false, and nothing written, when the
// 4 bytes do not lie inside the buffer.
bool write_u32(image_span image, std::uint64_t offset, std::uint32_t value);

// Copies `bytes` to `offset`; false, and nothing written, when they do not fit.
bool write_bytes(image_span image, std::uint64_t offset, std::span<const std::uint8_t> bytes);

// True when the buffer starts with `prefix`.
bool starts_with(image_view image, std::span<const std::uint8_t> prefix);

// The NUL-terminated string at `offset`. Absent when `offset` is outside the buffer or
// no NUL follows before its end or within the first `max_scan` bytes. The view's data()
// is NUL-terminated.
std::optional<std::string_view> read_string(image_view image, std::uint64_t offset,
                                            std::uint64_t max_scan = UINT64_MAX);

// The `length` bytes at `offset` as a buffer of their own; absent unless they lie wholly
// inside `image`.
inline std::optional<image_view> read_range(image_view image, std::uint64_t offset, std::uint64_t length)
{
    if (!range_inside(image.size(), offset, length))
        return std::nullopt;
    return image.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(length));
}

// A hint that the bytes at `offset` are wanted soon; nothing when it lies outside the buffer.
inline void prefetch_bytes(image_view image, std::uint64_t offset)
{
#if defined(__GNUC__)
    if (offset < image.size())
        __builtin_prefetch(image.subspan(static_cast<std::size_t>(offset)).data());
#else
    (void)image;
    (void)offset;
#endif
}

// A record of N bytes known to lie wholly inside a buffer. A walk over many records checks
// each record once and then reads its fields at offsets checked when compiling, instead of
// checking every field.
template <std::size_t N>
using fixed_record = std::span<const std::uint8_t, N>;

template <std::size_t N>
std::optional<fixed_record<N>> read_record(image_view image, std::uint64_t offset)
{
    if (!range_inside(image.size(), offset, N))
        return std::nullopt;
    return image.subspan(static_cast<std::size_t>(offset)).template first<N>();
}

template <std::size_t Offset, std::size_t N>
constexpr std::uint8_t field_u8(fixed_record<N> record)
{
    static_assert(Offset < N);
    return record[Offset];
}

template <std::size_t Offset, std::size_t N>
constexpr std::uint32_t field_u32(fixed_record<N> record)
{
    static_assert(Offset + 4 <= N);
    return static_cast<std::uint32_t>(record[Offset]) | static_cast<std::uint32_t>(record[Offset + 1]) << 8 |
           static_cast<std::uint32_t>(record[Offset + 2]) << 16 | static_cast<std::uint32_t>(record[Offset + 3]) << 24;
}

// A reference to a record inside a buffer, plain enough to be stored in the symbol
// table. `record_at` gives one only when all `length` bytes lie inside the buffer
// (nullptr otherwise); `record_u32` decodes a field of such a record.
using record_ref = const void*;
record_ref record_at(image_view image, std::uint64_t offset, std::uint64_t length);
std::uint32_t record_u32(record_ref record, std::size_t field_offset);

// A hint that a referenced record is wanted soon.
inline void prefetch_record(record_ref record)
{
#if defined(__GNUC__)
    __builtin_prefetch(record);
#else
    (void)record;
#endif
}
