// The one place that touches the bytes of an image buffer. Offsets come from the file and are
// 32-bit; bounds are computed in 64 bits, so offset + size never wraps. What does not lie wholly
// inside the buffer is absent: nothing here reads or writes outside it. The two accessors that
// do not check, record_table's and record_at, serve records checked once before.
#pragma once

#include "platform/little_endian.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>
#include <type_traits>

using image_view = std::span<const std::uint8_t>;
using image_span = std::span<std::uint8_t>;

using ul16 = little_endian<std::uint16_t>;
using ul32 = little_endian<std::uint32_t>;

// True when the `length` bytes at `offset` lie wholly inside a buffer of `size` bytes.
constexpr bool range_inside(std::size_t size, std::uint64_t offset, std::uint64_t length)
{
    return offset <= size && length <= size - offset;
}

// Records are plain bytes: any of them may be copied out of, or into, a buffer at any offset.
template <typename Record>
concept file_record = std::is_trivially_copyable_v<Record> && alignof(Record) == 1;

// The record at `offset`, copied out of the buffer; absent unless it lies wholly inside.
template <file_record Record>
std::optional<Record> read_record(image_view image, std::uint64_t offset)
{
    if (!range_inside(image.size(), offset, sizeof(Record)))
        return std::nullopt;
    Record record;
    std::memcpy(&record, image.data() + offset, sizeof record);
    return record;
}

// `count` records side by side, checked once to lie inside the buffer. Each is copied out
// when asked for, so it is read as the buffer stands at that moment.
template <file_record Record>
class record_table {
public:
    // Absent unless all `count` records at `offset` lie inside the buffer.
    static std::optional<record_table> at(image_view image, std::uint64_t offset, std::uint64_t count)
    {
        if (count > image.size() / sizeof(Record) || !range_inside(image.size(), offset, count * sizeof(Record)))
            return std::nullopt;
        return record_table(image.data() + offset, static_cast<std::uint32_t>(count));
    }
    record_table() = default;

    std::uint32_t size() const { return count_; }
    // Record `index`, which must be below size().
    Record operator[](std::uint32_t index) const
    {
        Record record;
        std::memcpy(&record, address(index), sizeof record);
        return record;
    }
    // Where record `index` lies, for keeping a reference to it or asking for it ahead.
    const void* address(std::uint32_t index) const { return first_ + std::size_t{index} * sizeof(Record); }

private:
    record_table(const std::uint8_t* first, std::uint32_t count) : first_(first), count_(count) {}
    const std::uint8_t* first_ = nullptr;
    std::uint32_t count_ = 0;
};

// A record known to lie inside a buffer, kept by address (as the symbol table keeps the link
// file's symbols) and copied out when needed.
template <file_record Record>
Record record_at(const void* address)
{
    Record record;
    std::memcpy(&record, address, sizeof record);
    return record;
}

inline std::optional<std::uint32_t> read_u32(image_view image, std::uint64_t offset)
{
    const std::optional<ul32> field = read_record<ul32>(image, offset);
    return field ? std::optional<std::uint32_t>(*field) : std::nullopt;
}

// The unsigned LEB128 number at `offset`, which must end before `end`; `offset` then moves
// past it. Absent when it runs to `end` or to the buffer's end, or beyond 64 bits.
std::optional<std::uint64_t> read_uleb128(image_view image, std::uint64_t& offset, std::uint64_t end);

// Stores `value` little-endian at `offset`; false, and nothing written, when the
// 4 bytes do not lie inside the buffer.
bool write_u32(image_span image, std::uint64_t offset, std::uint32_t value);

// Copies `bytes` to `offset`; false, and nothing written, when they do not fit.
bool write_bytes(image_span image, std::uint64_t offset, std::span<const std::uint8_t> bytes);

// The NUL-terminated string at `offset`. Absent when `offset` is outside the buffer or
// no NUL follows before its end or within the first `max_scan` bytes. The view's data()
// is NUL-terminated.
std::optional<std::string_view> read_string(image_view image, std::uint64_t offset,
                                            std::uint64_t max_scan = UINT64_MAX);
