#include "StatusLine.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <limits>
#include <random>

namespace velto::shareview {
namespace {

using nlohmann::json;

// The one line written by `call`, checked for its framing.
template <typename Call>
std::string onlyLine(Call call) {
    StatusLineCapture capture;
    call();
    EXPECT_EQ(capture.lines().size(), 1u);
    if (capture.lines().size() != 1) return {};
    const std::string& line = capture.lines().front();
    EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1) << line;
    EXPECT_EQ(line.back(), '\n') << line;
    return line;
}

// Everything outside string literals, where a compact line has no whitespace.
std::string outsideStrings(const std::string& line) {
    std::string outside;
    bool inString = false;
    for (std::size_t i = 0; i + 1 < line.size(); ++i) {
        if (inString && line[i] == '\\') {
            ++i;
        } else if (line[i] == '"') {
            inString = !inString;
        } else if (!inString) {
            outside += line[i];
        }
    }
    return outside;
}

std::string utf8(char32_t c) {
    if (c < 0x80) return std::string(1, static_cast<char>(c));
    if (c < 0x800) return {static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
    if (c < 0x10000) {
        return {static_cast<char>(0xE0 | (c >> 12)), static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
                static_cast<char>(0x80 | (c & 0x3F))};
    }
    return {static_cast<char>(0xF0 | (c >> 18)), static_cast<char>(0x80 | ((c >> 12) & 0x3F)),
            static_cast<char>(0x80 | ((c >> 6) & 0x3F)), static_cast<char>(0x80 | (c & 0x3F))};
}

const char* const everyMessage[] = {
    "",
    "Open Share View from Velto.",
    "Allow Velto Share View in System Settings → Privacy & Security → Screen & System Audio Recording, then "
    "reopen Share View.",
    "Waiting for the first filtered frame.",
    "Choose “Velto Share View — share this window” in your meeting's Window picker. Verify the recipient view.",
    "Screen capture could not start: The operation couldn’t be completed… (code -3801)",
    "line one\nline two\r\nthree\rfour",
    "quote \" backslash \\ slash / both \\/ \"\"",
    "tab\tbackspace\bformfeed\fbell\aescape\x1b unit\x1f delete\x7f",
    "ünïcödé 日本語 emoji 🙂 option ⌥ line\u2028separator",
    "}{\":,[]",
};

TEST(StatusLine, EveryMessageIsOneCompactObjectOnOneLine) {
    for (const std::string message : everyMessage) {
        const auto line = onlyLine([&] { report("error", message); });
        const auto object = json::parse(line);
        ASSERT_TRUE(object.is_object()) << line;
        EXPECT_EQ(object.size(), 2u);
        EXPECT_EQ(object.at("state"), "error");
        EXPECT_EQ(object.at("message"), message);
        EXPECT_EQ(outsideStrings(line).find_first_of(" \t\r\n"), std::string::npos) << line;
    }
}

TEST(StatusLine, ArbitraryUnicodeMessagesRoundTrip) {
    std::mt19937 random(20261209);
    std::uniform_int_distribution<char32_t> small(0, 0x7f), wide(0x80, 0x10FFFF);
    for (int round = 0; round < 2000; ++round) {
        std::string message;
        const int length = round % 24;
        for (int i = 0; i < length; ++i) {
            char32_t c = (random() % 4) ? small(random) : wide(random);
            if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;
            message += utf8(c);
        }
        const auto line = onlyLine([&] { report("live", message); });
        EXPECT_EQ(json::parse(line).at("message"), message);
        EXPECT_EQ(std::count_if(line.begin(), line.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }), 1);
    }
}

TEST(StatusLine, EscapesAreTheSystemOnes) {
    const struct {
        const char* message;
        const char* written;
    } cases[] = {
        {"a/b", R"("a\/b")"},
        {"\"", R"("\"")"},
        {"\\", R"("\\")"},
        {"\n", R"("\n")"},
        {"\r\t\b\f", R"("\r\t\b\f")"},
        {"\x01\x1f", R"("\u0001\u001f")"},
        {"→…—⌥", "\"→…—⌥\""},
        {"\x7f", "\"\x7f\""},
    };
    for (const auto& c : cases) {
        const auto line = onlyLine([&] { report("x", c.message); });
        EXPECT_NE(line.find(std::string("\"message\":") + c.written), std::string::npos) << line;
    }
}

TEST(StatusLine, ExtraValuesKeepTheirJsonTypesAndExactIntegers) {
    const auto line = onlyLine([] {
        report("starting", "Waiting for the first filtered frame.",
               {{"displayID", std::int64_t{std::numeric_limits<std::uint32_t>::max()}},
                {"excludedApplicationCount", std::numeric_limits<std::int64_t>::max()},
                {"smallest", std::numeric_limits<std::int64_t>::min()},
                {"zero", std::int64_t{0}},
                {"screenPermission", true},
                {"other", false},
                {"osVersion", std::string("Debian GNU/Linux 12")}});
    });
    const auto object = json::parse(line);
    EXPECT_EQ(object.size(), 9u);
    EXPECT_TRUE(object.at("displayID").is_number_integer());
    EXPECT_EQ(object.at("displayID").get<std::uint64_t>(), 4294967295u);
    EXPECT_EQ(object.at("excludedApplicationCount").get<std::int64_t>(), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(object.at("smallest").get<std::int64_t>(), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(object.at("zero"), 0);
    EXPECT_EQ(object.at("screenPermission"), true);
    EXPECT_EQ(object.at("other"), false);
    EXPECT_EQ(object.at("osVersion"), "Debian GNU/Linux 12");
}

TEST(StatusLine, ArgumentsWinOverExtraKeysOfTheSameName) {
    const auto line = onlyLine([] {
        report("live", "", {{"state", std::string("spoofed")}, {"message", true}, {"kept", std::int64_t{1}}});
    });
    const auto object = json::parse(line);
    EXPECT_EQ(object, (json{{"state", "live"}, {"message", ""}, {"kept", 1}}));
    EXPECT_EQ(std::count(line.begin(), line.end(), ':'), 3) << "no duplicate keys: " << line;
}

TEST(StatusLine, InvalidUtf8WritesNothingAnywhereInTheLine) {
    const std::string bad[] = {"\xff", "\xc3", "\xc0\xaf", "\xe0\x80\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80",
                               "ok\x80", "\xe2\x86"};
    for (const auto& text : bad) {
        StatusLineCapture capture;
        report(text);
        report("error", text);
        report("error", "", {{"osVersion", text}});
        report("error", "", {{text, true}});
        EXPECT_TRUE(capture.lines().empty()) << testing::PrintToString(text);
    }
}

TEST(StatusLine, CaptureRestoresThePreviousDestination) {
    StatusLineCapture outer;
    {
        StatusLineCapture inner;
        report("a");
        EXPECT_EQ(inner.lines().size(), 1u);
    }
    report("b");
    ASSERT_EQ(outer.lines().size(), 1u);
    EXPECT_EQ(json::parse(outer.lines()[0]).at("state"), "b");
}

}  // namespace
}  // namespace velto::shareview
