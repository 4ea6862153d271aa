// The option scanner and the checks after it on arbitrary argument vectors: the input
// split at its NUL bytes, one argument each, argv[0] included.
#include "fuzz_input.h"
#include "fuzz_support.h"

#include "cli/options.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    silence_stdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> args = split_arguments({data, size});
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const int argc = static_cast<int>(args.size());

    option_index = 1;
    option_value = nullptr;
    debug_flag = 0;
    command_line settings;
    const scan_result result = scan_command_line(argc, argv.data(), settings);

    require(option_index >= 1 && option_index <= (argc < 1 ? 1 : argc + 1), "option_index stays in the vector");
    require(next_option(argc, argv.data(), OPTION_STRING) == -1 || result != scan_result::run,
            "a finished scan stays finished");
    if (result == scan_result::run) {
        require(argc >= 1 && settings.image_path == argv[argc - 1], "the linked image is the last argument");
        require(settings.link_path != nullptr && settings.output_path != nullptr, "both paths were given");
        require(!settings.version_requested, "a version request does not run");
    }
    return 0;
}
