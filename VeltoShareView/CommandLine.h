#pragma once
// The share view's command line: "--check", or "--parent-pid" and
// "--display-id" with decimal values. Every other argument is ignored.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace velto::shareview {

// The argument right after the first one equal to `name` (element 0, the
// program path, included), whatever it is; nothing when `name` is absent or last.
std::optional<std::string> argument(const std::vector<std::string>& arguments, std::string_view name);

// Decimal text with an optional single sign and any number of digits, leading
// zeros allowed. Fails, rather than wrapping, as soon as a partial value
// leaves the type's range ("-0" is a valid unsigned value; "-1" is not).
std::optional<std::int32_t> parseSigned32(std::string_view text);
std::optional<std::uint32_t> parseUnsigned32(std::string_view text);

struct CheckRequest {};

struct ShareOptions {
    std::int32_t parentPID = 0;
    std::uint32_t displayID = 0;
};

struct BadCommandLine {};

using CommandLine = std::variant<CheckRequest, ShareOptions, BadCommandLine>;

CommandLine parseCommandLine(const std::vector<std::string>& arguments);

}  // namespace velto::shareview
