#include "elf/image_bytes.h"

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
    return write_bytes(image, offset, ul32(value).bytes);
}

bool write_bytes(image_span image, std::uint64_t offset, std::span<const std::uint8_t> bytes)
{
    if (!range_inside(image.size(), offset, bytes.size()))
        return false;
    if (!bytes.empty())
        std::memcpy(image.data() + offset, bytes.data(), bytes.size());
    return true;
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
