#include "elf/image_bytes.h"

#include <cstring>

namespace {

std::uint32_t decode_u32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

} // namespace

std::optional<std::uint8_t> read_u8(image_view image, std::uint64_t offset)
{
    if (!range_inside(image.size(), offset, 1))
        return std::nullopt;
    return image[offset];
}

std::optional<std::uint16_t> read_u16(image_view image, std::uint64_t offset)
{
    if (!range_inside(image.size(), offset, 2))
        return std::nullopt;
    return static_cast<std::uint16_t>(image[offset] | image[offset + 1] << 8);
}

std::optional<std::uint32_t> read_u32(image_view image, std::uint64_t offset)
{
    if (!range_inside(image.size(), offset, 4))
        return std::nullopt;
    return decode_u32(image.subspan(offset, 4).data());
}

std::optional<std::uint64_t> read_uleb128(image_view image, std::uint64_t& offset, std::uint64_t end)
{
    std::uint64_t value = 0;
    for (unsigned shift = 0; shift < 64 && offset < end && offset < image.size(); shift += 7) {
        const std::uint8_t b = image[offset++];
        value |= std::uint64_t{b & 0x7fu} << shift;
        if ((b & 0x80) == 0)
            return value;
    }
    return std::nullopt;
}

bool write_u32(image_span image, std::uint64_t offset, std::uint32_t value)
{
    const std::uint8_t bytes[4] = {
        static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
        static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
    return write_bytes(image, offset, bytes);
}

bool write_bytes(image_span image, std::uint64_t offset, std::span<const std::uint8_t> bytes)
{
    if (!range_inside(image.size(), offset, bytes.size()))
        return false;
    if (!bytes.empty())
        std::memcpy(image.subspan(offset, bytes.size()).data(), bytes.data(), bytes.size());
    return true;
}

bool starts_with(image_view image, std::span<const std::uint8_t> prefix)
{
    return image.size() >= prefix.size() &&
           (prefix.empty() || std::memcmp(image.data(), prefix.data(), prefix.size()) == 0);
}

std::optional<std::string_view> read_string(image_view image, std::uint64_t offset, std::uint64_t max_scan)
{
    if (offset >= image.size())
        return std::nullopt;
    const image_view rest = image.subspan(offset);
    const void* nul = std::memchr(rest.data(), 0, rest.size() < max_scan ? rest.size() : max_scan);
    if (nul == nullptr)
        return std::nullopt;
    const auto* start = reinterpret_cast<const char*>(rest.data());
    return std::string_view(start, static_cast<std::size_t>(static_cast<const char*>(nul) - start));
}

record_ref record_at(image_view image, std::uint64_t offset, std::uint64_t length)
{
    if (!range_inside(image.size(), offset, length) || length == 0)
        return nullptr;
    return image.subspan(offset, length).data();
}

std::uint32_t record_u32(record_ref record, std::size_t field_offset)
{
    return decode_u32(static_cast<const std::uint8_t*>(record) + field_offset);
}
