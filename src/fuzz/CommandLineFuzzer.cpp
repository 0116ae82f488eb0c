// The tovak command's arguments, separated by NUL bytes as the kernel hands them over.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> arguments;
    std::string argument;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            arguments.push_back(argument);
            argument.clear();
        } else {
            argument += static_cast<char>(data[i]);
        }
    }
    if (size > 0) {
        arguments.push_back(argument);
    }
    const tovak::app::ParsedCommandLine parsed = tovak::app::parseCommandLine(arguments);
    TOVAK_FUZZ_CHECK(parsed.options.has_value() == parsed.error.empty());
    for (const std::string& text : arguments) {
        const auto seconds = tovak::app::parseDuration(text);
        TOVAK_FUZZ_CHECK(!seconds || (*seconds >= 0 && *seconds <= 24 * 3600));
    }
    return 0;
}
