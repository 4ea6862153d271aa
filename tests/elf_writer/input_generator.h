// Seeded generator of benchmark inputs shaped like a real target image and a real module:
// a link file whose symbol table a linker laid out for a kernel of `functions` functions,
// a linked image with functions / 10 jump slots into it (plus one slot in a hundred against
// the module's own functions), and the module image that modweld must make of them.
//
// The expected image is worked out from the generator's own records of what it wrote,
// never by reading the files back, so it checks modweld rather than repeating it.
#pragma once

#include "elf_writer.h"

#include <cstdint>
#include <string>
#include <vector>

struct generator_settings {
    std::uint32_t functions = 10000;
    std::uint64_t seed = 1;
    // With false, the link file keeps its symbols but not its code and data (the sections
    // become SHT_NOBITS, as in a symbols-only file): the hardest case for modweld relative to
    // reading its inputs.
    bool with_contents = true;
    // Also work out what `modweld -D` must print (for tests at small sizes).
    bool with_trace = false;
};

struct generated_inputs {
    bytes link_file;
    bytes linked_image;
    bytes expected_image;
    std::uint32_t link_symbols = 0;   // entries of the link file's symbol table, null included
    std::uint32_t jump_slots = 0;     // R_ARM_JUMP_SLOT relocations of the linked image
    std::uint32_t filled_slots = 0;   // of those, the ones against names of the link file
    double mean_function_name = 0;    // bytes, NUL excluded
    std::string expected_trace;       // with_trace: the standard output of a successful -D run
};

generated_inputs generate_inputs(const generator_settings& settings);

// `count` kernel-shaped function names as the generator makes them (globals unique,
// about 30 % statics, some common static names repeated many times), in link file order.
std::vector<std::string> generate_function_names(std::uint32_t count, std::uint64_t seed);

// Small deterministic generator (splitmix64), the same on every host.
struct bench_random {
    std::uint64_t state;
    explicit bench_random(std::uint64_t seed) : state(seed) {}
    std::uint64_t next()
    {
        std::uint64_t z = (state += 0x9e3779b97f4a7c15u);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
        return z ^ (z >> 31);
    }
    // Uniform in 0 .. bound - 1 (bound >= 1); the tiny bias of the multiply does not matter here.
    std::uint32_t below(std::uint32_t bound)
    {
        return static_cast<std::uint32_t>(((next() >> 32) * bound) >> 32);
    }
    bool chance(double p) { return static_cast<double>(next() >> 11) * 0x1.0p-53 < p; }
};
