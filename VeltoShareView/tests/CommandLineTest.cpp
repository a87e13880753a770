#include "CommandLine.h"

#include <gtest/gtest.h>

#include <limits>

namespace velto::shareview {
namespace {

using Arguments = std::vector<std::string>;

TEST(CommandLineArgument, TakesTheElementAfterTheFirstMatch) {
    const struct {
        Arguments arguments;
        std::optional<std::string> expected;
    } cases[] = {
        {{"/bin/app"}, std::nullopt},
        {{"/bin/app", "--parent-pid"}, std::nullopt},
        {{"/bin/app", "--parent-pid", ""}, ""},
        {{"/bin/app", "--parent-pid", "5", "--parent-pid", "6"}, "5"},
        {{"/bin/app", "--parent-pid", "--display-id", "7"}, "--display-id"},
        {{"--parent-pid", "9"}, "9"},  // element 0 is looked at too
        {{"/bin/app", "--parent-pid=5"}, std::nullopt},
        {{"/bin/app", "--PARENT-PID", "5"}, std::nullopt},
        {{"/bin/app", "x", "--parent-pid", "12", "y"}, "12"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(argument(c.arguments, "--parent-pid"), c.expected) << testing::PrintToString(c.arguments);
    }
}

TEST(CommandLineDecimal, Signed32) {
    const struct {
        const char* text;
        std::optional<std::int32_t> expected;
    } cases[] = {
        {"0", 0},
        {"2", 2},
        {"+42", 42},
        {"0042", 42},
        {"-5", -5},
        {"-0", 0},
        {"+0", 0},
        {"2147483647", 2147483647},
        {"-2147483648", std::numeric_limits<std::int32_t>::min()},
        {"000000000000000000000000000002147483647", 2147483647},
        {"-00000000000000000000000000002147483648", std::numeric_limits<std::int32_t>::min()},
        {"2147483648", std::nullopt},
        {"-2147483649", std::nullopt},
        {"4294967298", std::nullopt},   // would wrap to 2 in 32 bits
        {"21474836470", std::nullopt},
        {"99999999999999999999999999", std::nullopt},
        {"", std::nullopt},
        {"+", std::nullopt},
        {"-", std::nullopt},
        {"+-5", std::nullopt},
        {"--5", std::nullopt},
        {"++5", std::nullopt},
        {" 5", std::nullopt},
        {"5 ", std::nullopt},
        {"4x", std::nullopt},
        {"x4", std::nullopt},
        {"0x1", std::nullopt},
        {"1.0", std::nullopt},
        {"1e3", std::nullopt},
        {"5-", std::nullopt},
        {"\xd9\xa5", std::nullopt},  // a non-ASCII digit
    };
    for (const auto& c : cases) EXPECT_EQ(parseSigned32(c.text), c.expected) << '"' << c.text << '"';
}

TEST(CommandLineDecimal, Unsigned32) {
    const struct {
        const char* text;
        std::optional<std::uint32_t> expected;
    } cases[] = {
        {"0", 0u},
        {"-0", 0u},
        {"-0000", 0u},
        {"+7", 7u},
        {"007", 7u},
        {"2147483648", 2147483648u},
        {"4294967295", 4294967295u},
        {"0000000000000000000000004294967295", 4294967295u},
        {"4294967296", std::nullopt},
        {"4294967303", std::nullopt},  // would wrap to 7 in 32 bits
        {"18446744073709551623", std::nullopt},  // would wrap to 7 in 64 bits
        {"-1", std::nullopt},
        {"-01", std::nullopt},
        {"-4294967295", std::nullopt},
        {"", std::nullopt},
        {"+", std::nullopt},
        {"-", std::nullopt},
        {"0x1", std::nullopt},
        {" 7", std::nullopt},
        {"7 ", std::nullopt},
        {"7\n", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(parseUnsigned32(c.text), c.expected) << '"' << c.text << '"';
}

std::string describe(const CommandLine& commandLine) {
    if (std::holds_alternative<CheckRequest>(commandLine)) return "check";
    if (std::holds_alternative<BadCommandLine>(commandLine)) return "bad";
    const auto& options = std::get<ShareOptions>(commandLine);
    return "share " + std::to_string(options.parentPID) + " " + std::to_string(options.displayID);
}

TEST(CommandLineParse, WholeCommandLines) {
    const struct {
        Arguments arguments;
        const char* expected;
    } cases[] = {
        {{"/bin/app"}, "bad"},
        {{}, "bad"},
        {{"/bin/app", "--check"}, "check"},
        {{"--check"}, "check"},  // the program path counts too
        {{"/bin/app", "--parent-pid", "x", "--check"}, "check"},
        {{"/bin/app", "--parent-pid", "1", "--display-id", "-1", "--check"}, "check"},
        {{"/bin/app", "--display-id", "--check"}, "check"},
        {{"/bin/app", "--parent-pid", "2", "--display-id", "0"}, "share 2 0"},
        {{"/bin/app", "--display-id", "4294967295", "--parent-pid", "2147483647"}, "share 2147483647 4294967295"},
        {{"/bin/app", "--parent-pid", "+42", "--display-id", "+7"}, "share 42 7"},
        {{"/bin/app", "--parent-pid", "0042", "--display-id", "-0"}, "share 42 0"},
        {{"/bin/app", "--parent-pid", "5", "--parent-pid", "6", "--display-id", "1"}, "share 5 1"},
        {{"/bin/app", "--verbose", "--parent-pid", "5", "extra", "--display-id", "1", "more"}, "share 5 1"},
        {{"/bin/app", "--parent-pid"}, "bad"},
        {{"/bin/app", "--display-id", "1", "--parent-pid"}, "bad"},
        {{"/bin/app", "--parent-pid", "", "--display-id", "1"}, "bad"},
        {{"/bin/app", "--parent-pid", "0", "--display-id", "1"}, "bad"},
        {{"/bin/app", "--parent-pid", "1", "--display-id", "1"}, "bad"},
        {{"/bin/app", "--parent-pid", "-5", "--display-id", "1"}, "bad"},
        {{"/bin/app", "--parent-pid", "-2147483648", "--display-id", "1"}, "bad"},
        {{"/bin/app", "--parent-pid", " 5", "--display-id", "1"}, "bad"},
        {{"/bin/app", "--parent-pid", "5 ", "--display-id", "1"}, "bad"},
        {{"/bin/app", "--parent-pid", "4x", "--display-id", "1"}, "bad"},
        {{"/bin/app", "--parent-pid", "+", "--display-id", "1"}, "bad"},
        {{"/bin/app", "--parent-pid", "-", "--display-id", "1"}, "bad"},
        {{"/bin/app", "--parent-pid", "2147483648", "--display-id", "1"}, "bad"},
        {{"/bin/app", "--parent-pid", "--display-id", "7"}, "bad"},
        {{"/bin/app", "--parent-pid", "5"}, "bad"},
        {{"/bin/app", "--parent-pid", "5", "--display-id"}, "bad"},
        {{"/bin/app", "--parent-pid", "5", "--display-id", ""}, "bad"},
        {{"/bin/app", "--parent-pid", "5", "--display-id", "-1"}, "bad"},
        {{"/bin/app", "--parent-pid", "5", "--display-id", "4294967296"}, "bad"},
        {{"/bin/app", "--parent-pid", "5", "--display-id", "0x1"}, "bad"},
        {{"/bin/app", "--parent-pid", "5", "--display-id", "1", "--display-id", "x"}, "share 5 1"},
        {{"/bin/app", "--Check"}, "bad"},
        {{"/bin/app", "--check=1"}, "bad"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(describe(parseCommandLine(c.arguments)), c.expected) << testing::PrintToString(c.arguments);
    }
}

}  // namespace
}  // namespace velto::shareview
