// The command a desktop entry yields, from the entry's text alone.

#include "DesktopEntryCommand.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace velto::launcher {
namespace {

struct EntryCase {
    const char* name;
    std::string entry;
    std::vector<std::string> expected;  // empty: no command, with the readable error
    friend void PrintTo(const EntryCase& c, std::ostream* out) { *out << c.name; }
};

class DesktopEntryCommandTest : public testing::TestWithParam<EntryCase> {};

TEST_P(DesktopEntryCommandTest, YieldsTheProgramOrSaysThereIsNone) {
    const std::unique_ptr<GKeyFile, decltype(&g_key_file_free)> entry(g_key_file_new(), g_key_file_free);
    const std::string text = "[Desktop Entry]\nType=Application\n" + GetParam().entry;
    ASSERT_TRUE(g_key_file_load_from_data(entry.get(), text.data(), text.size(), G_KEY_FILE_NONE, nullptr));

    const auto command = desktopEntryCommand(entry.get(), "/apps/velto.desktop", {"--start-listening"});

    EXPECT_EQ(command.arguments, GetParam().expected);
    if (GetParam().expected.empty()) {
        EXPECT_EQ(command.error,
                  "The desktop entry \u201c/apps/velto.desktop\u201d has no command that can be run.");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DesktopEntryCommandTest,
    testing::Values(
        EntryCase{"UnknownCodeTakesItsWholeCharacter", "Exec=prog %\xc3\xa9 x\n",
                  {"prog", "x", "--start-listening"}},
        EntryCase{"UnknownCodeInsideAnArgument", "Exec=prog a%\xe2\x82\xac" "b\n",
                  {"prog", "ab", "--start-listening"}},
        EntryCase{"NameAsProgram", "Name=velto-main\nExec=%c --flag\n",
                  {"velto-main", "--flag", "--start-listening"}},
        EntryCase{"NameAsProgramWithoutAName", "Exec=%c --flag\n", {}},
        EntryCase{"EmptyQuotedProgram", "Exec=\"\" x\n", {}},
        EntryCase{"OnlyRemovedCodes", "Exec=%U %f\n", {}},
        EntryCase{"EmptyArgumentAfterTheProgramStays", "Exec=prog \"\"\n", {"prog", "", "--start-listening"}}),
    [](const testing::TestParamInfo<EntryCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velto::launcher
