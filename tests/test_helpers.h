// What the test files share besides running the tool: number and name formatting, and the
// real pair in tests/hostile.
#pragma once

#include "run_tool.h"

#include <cstdint>
#include <string>
#include <string_view>

// "0x" and lowercase hex digits, as the tool prints numbers.
std::string hex(std::uint64_t value);

// A test name from a row's description: its words of letters and digits, joined by '_'.
std::string test_name(std::string_view description);

// Names each instance of a parameterised test after its row's `what`.
struct name_from_what {
    template <typename Row>
    std::string operator()(const ::testing::TestParamInfo<Row>& info) const
    {
        return test_name(info.param.what);
    }
};

// The real pair that tests/hostile/build.sh regenerates: target.elf, the link file, and
// module.so, the linked image.
struct hostile_pair {
    bytes link;
    bytes image;
};
const hostile_pair& pair();

// What a weld of module.so prints when the link file yields no function: each of its four
// imports (readelf -rW module.so) is missing.
inline const std::string ALL_IMPORTS_MISSING = "relocate symbol sys_write failed\n"
                                               "relocate symbol sys_add failed\n"
                                               "relocate symbol sys_twice failed\n"
                                               "relocate symbol sys_thumb failed\n"
                                               "relocation failed\n";
