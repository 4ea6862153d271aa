// How the fuzz targets read their inputs, shared with the test that replays the kept ones, so
// that a kept input means there what it meant to the fuzzer.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

using bytes = std::vector<std::uint8_t>;

struct pair_input {
    bytes link;  // the link file
    bytes image; // the linked image
};

// A 4-byte little-endian length, that many bytes of link file (fewer when the input is
// shorter), and the rest as the linked image. Absent for an input shorter than 4 bytes.
std::optional<pair_input> split_pair(std::span<const std::uint8_t> input);

// An argument vector, argv[0] included: the input split at its NUL bytes, one argument each.
// An empty input is an empty vector.
std::vector<std::string> split_arguments(std::span<const std::uint8_t> input);
