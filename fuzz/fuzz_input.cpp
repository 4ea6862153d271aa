#include "fuzz_input.h"

#include "elf/image_bytes.h"

#include <algorithm>

std::optional<pair_input> split_pair(std::span<const std::uint8_t> input)
{
    const std::optional<std::uint32_t> claimed = read_u32(input, 0);
    if (!claimed)
        return std::nullopt;
    const std::span<const std::uint8_t> rest = input.subspan(sizeof(ul32));
    const std::size_t link_size = std::min<std::size_t>(*claimed, rest.size());
    return pair_input{bytes(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(link_size)),
                      bytes(rest.begin() + static_cast<std::ptrdiff_t>(link_size), rest.end())};
}

std::vector<std::string> split_arguments(std::span<const std::uint8_t> input)
{
    std::vector<std::string> args;
    if (input.empty())
        return args;
    args.emplace_back();
    for (const std::uint8_t b : input) {
        if (b == 0)
            args.emplace_back();
        else
            args.back().push_back(static_cast<char>(b));
    }
    return args;
}
