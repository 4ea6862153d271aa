// Writes one set of benchmark inputs: modweld_gen_inputs FUNCTIONS DIR [SEED] [--symbols-only]
// leaves DIR/target.elf, DIR/module.so and DIR/module.expected (what modweld must write).
#include "input_generator.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace {

bool save(const std::filesystem::path& path, const bytes& contents)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(contents.data()), static_cast<std::streamsize>(contents.size()));
    return static_cast<bool>(out);
}

} // namespace

int main(int argc, char* argv[])
{
    generator_settings settings;
    int positional = 0;
    const char* dir = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--symbols-only") == 0)
            settings.with_contents = false;
        else if (positional == 0 && ++positional)
            settings.functions = static_cast<std::uint32_t>(std::strtoul(argv[i], nullptr, 10));
        else if (positional == 1 && ++positional)
            dir = argv[i];
        else
            settings.seed = std::strtoull(argv[i], nullptr, 10);
    }
    if (dir == nullptr || settings.functions == 0) {
        std::fprintf(stderr, "usage: %s FUNCTIONS DIR [SEED] [--symbols-only]\n", argv[0]);
        return 2;
    }
    const generated_inputs in = generate_inputs(settings);
    const std::filesystem::path d(dir);
    std::filesystem::create_directories(d);
    if (!save(d / "target.elf", in.link_file) || !save(d / "module.so", in.linked_image) ||
        !save(d / "module.expected", in.expected_image)) {
        std::fprintf(stderr, "cannot write to %s\n", dir);
        return 1;
    }
    std::printf("%u functions, %u link symbols, mean name %.1f bytes; %u jump slots (%u filled); "
                "target.elf %zu bytes, module.so %zu bytes\n",
                settings.functions, in.link_symbols, in.mean_function_name, in.jump_slots, in.filled_slots,
                in.link_file.size(), in.linked_image.size());
    return 0;
}
