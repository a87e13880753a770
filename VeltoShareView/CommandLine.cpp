#include "CommandLine.h"

#include <algorithm>
#include <iterator>
#include <limits>

namespace velto::shareview {

namespace {

// Builds the value digit by digit, value * 10 +/- digit, and stops at the
// first step that leaves Integer's range. Each step is computed in 64 bits,
// which holds any 32-bit value times ten plus a digit.
template <typename Integer>
std::optional<Integer> parseDecimal(std::string_view text) {
    static_assert(sizeof(Integer) <= 4);
    constexpr std::int64_t lowest = std::numeric_limits<Integer>::min();
    constexpr std::int64_t highest = std::numeric_limits<Integer>::max();
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    std::int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const std::int64_t digit = c - '0';
        value = negative ? value * 10 - digit : value * 10 + digit;
        if (value < lowest || value > highest) return std::nullopt;
    }
    return static_cast<Integer>(value);
}

}  // namespace

std::optional<std::string> argument(const std::vector<std::string>& arguments, std::string_view name) {
    const auto found = std::find(arguments.begin(), arguments.end(), name);
    if (found == arguments.end() || std::next(found) == arguments.end()) return std::nullopt;
    return *std::next(found);
}

std::optional<std::int32_t> parseSigned32(std::string_view text) { return parseDecimal<std::int32_t>(text); }

std::optional<std::uint32_t> parseUnsigned32(std::string_view text) { return parseDecimal<std::uint32_t>(text); }

CommandLine parseCommandLine(const std::vector<std::string>& arguments) {
    if (std::find(arguments.begin(), arguments.end(), "--check") != arguments.end()) return CheckRequest{};

    const auto parentText = argument(arguments, "--parent-pid");
    if (!parentText) return BadCommandLine{};
    const auto parentPID = parseSigned32(*parentText);
    if (!parentPID || *parentPID <= 1) return BadCommandLine{};

    const auto displayText = argument(arguments, "--display-id");
    if (!displayText) return BadCommandLine{};
    const auto displayID = parseUnsigned32(*displayText);
    if (!displayID) return BadCommandLine{};

    return ShareOptions{*parentPID, *displayID};
}

}  // namespace velto::shareview
