// The share view's command line from an argument vector: the input's NUL
// bytes separate the arguments (no real argument can hold one). The parser
// must agree with a plain, independent reading of the option rules.

#include "CommandLine.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace {

using namespace velto::shareview;

void require(bool holds, const char* property) {
    if (holds) return;
    std::fprintf(stderr, "command line property violated: %s\n", property);
    std::abort();
}

// Sign, digits only, then the magnitude without leading zeros: more than ten
// digits cannot fit 32 bits, ten or fewer fit 64.
std::optional<std::int64_t> plainDecimal(std::string_view text, std::int64_t lowest, std::int64_t highest) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
    text.remove_prefix(std::min(text.find_first_not_of('0'), text.size()));
    if (text.size() > 10) return std::nullopt;
    const std::int64_t magnitude = text.empty() ? 0 : std::stoll(std::string(text));
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (value < lowest || value > highest) return std::nullopt;
    return value;
}

std::optional<std::string> plainArgument(const std::vector<std::string>& arguments, const std::string& name) {
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == name) return i + 1 < arguments.size() ? std::optional(arguments[i + 1]) : std::nullopt;
    }
    return std::nullopt;
}

std::vector<std::string> argumentVector(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> arguments(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) arguments.emplace_back();
        else arguments.back() += static_cast<char>(data[i]);
    }
    return arguments;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto arguments = argumentVector(data, size);

    for (const auto& text : arguments) {
        const auto pid = parseSigned32(text);
        const auto plainPid = plainDecimal(text, INT32_MIN, INT32_MAX);
        require(pid.has_value() == plainPid.has_value() && (!pid || *pid == *plainPid), "signed decimal rule");
        const auto display = parseUnsigned32(text);
        const auto plainDisplay = plainDecimal(text, 0, UINT32_MAX);
        require(display.has_value() == plainDisplay.has_value() && (!display || *display == *plainDisplay),
                "unsigned decimal rule");
    }
    for (const char* name : {"--check", "--parent-pid", "--display-id"}) {
        require(argument(arguments, name) == plainArgument(arguments, name), "option lookup");
    }

    const CommandLine parsed = parseCommandLine(arguments);
    if (std::find(arguments.begin(), arguments.end(), "--check") != arguments.end()) {
        require(std::holds_alternative<CheckRequest>(parsed), "--check anywhere wins");
        return 0;
    }
    const auto parentText = plainArgument(arguments, "--parent-pid");
    const auto displayText = plainArgument(arguments, "--display-id");
    const auto parent = parentText ? plainDecimal(*parentText, 2, INT32_MAX) : std::nullopt;
    const auto display = displayText ? plainDecimal(*displayText, 0, UINT32_MAX) : std::nullopt;
    if (parent && display) {
        const auto* options = std::get_if<ShareOptions>(&parsed);
        require(options != nullptr, "a good command line is accepted");
        require(options->parentPID == *parent && options->displayID == *display, "values handed on unchanged");
    } else {
        require(std::holds_alternative<BadCommandLine>(parsed), "a bad command line is refused");
    }
    return 0;
}
