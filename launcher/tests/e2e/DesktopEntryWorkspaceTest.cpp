#include "DesktopEntryWorkspace.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace velto::launcher {
namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

void writeFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

std::string entryWithExec(const std::string& exec) {
    return "[Desktop Entry]\nType=Application\nName=Velto\nExec=" + exec + "\n";
}

bool waitForFile(const fs::path& path) {
    for (int attempt = 0; attempt < 200 && !fs::exists(path); ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return fs::exists(path);
}

// GLib reads the XDG variables once per process, so every test shares one
// tree: data home, then two data dirs.
class DesktopEntryWorkspaceTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        char pattern[] = "/tmp/velto-desktop-entries-XXXXXX";
        root = mkdtemp(pattern);
        setenv("XDG_DATA_HOME", (root / "home").c_str(), 1);
        setenv("XDG_DATA_DIRS", ((root / "first").string() + ":" + (root / "second").string()).c_str(), 1);
    }
    static void TearDownTestSuite() { fs::remove_all(root); }

    static fs::path entryIn(const std::string& dataDirectory, const std::string& identifier) {
        return root / dataDirectory / "applications" / (identifier + ".desktop");
    }

    static inline fs::path root;
};

TEST_F(DesktopEntryWorkspaceTest, LookupFollowsTheXdgOrder) {
    writeFile(entryIn("second", "org.example.Order"), entryWithExec("true"));
    EXPECT_EQ(findDesktopEntry("org.example.Order"), entryIn("second", "org.example.Order").string());
    writeFile(entryIn("first", "org.example.Order"), entryWithExec("true"));
    EXPECT_EQ(findDesktopEntry("org.example.Order"), entryIn("first", "org.example.Order").string());
    writeFile(entryIn("home", "org.example.Order"), entryWithExec("true"));
    EXPECT_EQ(findDesktopEntry("org.example.Order"), entryIn("home", "org.example.Order").string());
    EXPECT_EQ(findDesktopEntry("org.example.Absent"), std::nullopt);
}

TEST_F(DesktopEntryWorkspaceTest, HiddenEntryDeletesTheApplicationForTheUser) {
    writeFile(entryIn("first", "org.example.Hidden"), entryWithExec("true"));
    writeFile(entryIn("home", "org.example.Hidden"), entryWithExec("true") + "Hidden=true\n");
    EXPECT_EQ(findDesktopEntry("org.example.Hidden"), std::nullopt);
}

TEST_F(DesktopEntryWorkspaceTest, IdentifierIsTheFileNameOfAReadableEntry) {
    const auto valid = root / "elsewhere" / "org.example.Valid.desktop";
    writeFile(valid, entryWithExec("/nonexistent/program"));
    const auto notAnEntry = root / "elsewhere" / "org.example.Other.desktop";
    writeFile(notAnEntry, "[Something Else]\nExec=true\n");
    const auto wrongSuffix = root / "elsewhere" / "org.example.Valid.txt";
    writeFile(wrongSuffix, entryWithExec("true"));

    // A missing program does not make an entry unreadable: opening it fails later, visibly.
    EXPECT_EQ(desktopEntryIdentifier(valid.string()), "org.example.Valid");
    EXPECT_EQ(desktopEntryIdentifier(notAnEntry.string()), std::nullopt);
    EXPECT_EQ(desktopEntryIdentifier(wrongSuffix.string()), std::nullopt);
    EXPECT_EQ(desktopEntryIdentifier((root / "elsewhere" / "absent.desktop").string()), std::nullopt);
}

// What the install location holds must be an application the user kept;
// anything else must leave the choice to the XDG lookup.
TEST_F(DesktopEntryWorkspaceTest, OnlyAKeptApplicationHasAnIdentifier) {
    const struct {
        const char* name;
        std::string text;
        bool hasIdentifier;
    } cases[] = {
        {"application", entryWithExec("true"), true},
        {"application, Hidden=false", entryWithExec("true") + "Hidden=false\n", true},
        {"hidden application", entryWithExec("true") + "Hidden=true\n", false},
        {"link", "[Desktop Entry]\nType=Link\nName=Velto\nURL=https://example.org/\n", false},
        {"directory", "[Desktop Entry]\nType=Directory\nName=Velto\n", false},
        {"no type", "[Desktop Entry]\nName=Velto\nExec=true\n", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = root / "install-location" / "org.example.Kept.desktop";
        writeFile(path, c.text);
        EXPECT_EQ(desktopEntryIdentifier(path.string()).has_value(), c.hasIdentifier);
    }
}

struct FieldCodeCase {
    const char* name;
    std::vector<std::string> arguments;
    std::vector<std::string> expected;
    friend void PrintTo(const FieldCodeCase& c, std::ostream* out) { *out << c.name; }
};

class FieldCodeTest : public testing::TestWithParam<FieldCodeCase> {};

TEST_P(FieldCodeTest, ExpandsOrRemovesCodes) {
    const FieldCodeValues values{"velto-icon", "Velto", "/apps/velto.desktop"};
    EXPECT_EQ(expandFieldCodes(GetParam().arguments, values), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FieldCodeTest,
    testing::Values(
        FieldCodeCase{"FileAndUrlListsDisappear", {"velto", "%U", "%f", "%F", "%u"}, {"velto"}},
        FieldCodeCase{"DeprecatedCodesDisappear", {"velto", "%d", "%D", "%n", "%N", "%v", "%m"}, {"velto"}},
        FieldCodeCase{"IconBecomesTwoArguments", {"velto", "%i"}, {"velto", "--icon", "velto-icon"}},
        FieldCodeCase{"NameAndLocationExpandInPlace", {"velto", "--title=%c", "%k"},
                      {"velto", "--title=Velto", "/apps/velto.desktop"}},
        FieldCodeCase{"DoublePercentIsOnePercent", {"velto", "100%%"}, {"velto", "100%"}},
        FieldCodeCase{"CodeInsideAnArgumentLeavesTheRest", {"velto", "--open=%u"}, {"velto", "--open="}},
        FieldCodeCase{"TrailingPercentStays", {"velto", "50%"}, {"velto", "50%"}},
        FieldCodeCase{"EmptyArgumentStays", {"velto", ""}, {"velto", ""}}),
    [](const testing::TestParamInfo<FieldCodeCase>& info) { return std::string(info.param.name); });

TEST(FieldCodeWithoutIcon, LoneIconCodeDisappears) {
    EXPECT_EQ(expandFieldCodes({"velto", "%i"}, {"", "Velto", "/x.desktop"}), std::vector<std::string>{"velto"});
}

TEST_F(DesktopEntryWorkspaceTest, LaunchRunsTheCommandDetachedWithTheExtraArgument) {
    const auto work = root / "launch";
    const auto script = work / "main-app.sh";
    writeFile(script,
              "#!/bin/sh\n"
              "printf '%s\\n' \"$@\" > arguments.tmp\n"
              "awk '{print $6}' /proc/$$/stat > session\n"
              "echo $$ > pid\n"
              "mv arguments.tmp arguments\n");
    fs::permissions(script, fs::perms::owner_all);
    const auto entry = work / "org.example.Launch.desktop";
    writeFile(entry, entryWithExec("\"" + script.string() + "\" --from-entry \"two words\" %U") + "Path=" +
                         work.string() + "\n");

    ASSERT_EQ(launchDesktopEntry(entry.string(), {"--start-listening"}), std::nullopt);
    ASSERT_TRUE(waitForFile(work / "arguments"));
    EXPECT_EQ(readFile(work / "arguments"), "--from-entry\ntwo words\n--start-listening\n");
    // A session of its own: the program outlives this one's session.
    EXPECT_EQ(readFile(work / "session"), readFile(work / "pid"));
}

// The agent ignores SIGPIPE; an ignored signal would survive the exec and
// leave the main application unable to die of a broken pipe.
TEST_F(DesktopEntryWorkspaceTest, OpenedProgramHasSigpipeAtItsDefault) {
    const auto work = root / "sigpipe";
    const auto script = work / "main-app.sh";
    writeFile(script,
              "#!/bin/sh\n"
              "sed -n 's/^SigIgn:[[:space:]]*//p' /proc/$$/status > ignored.tmp\n"
              "mv ignored.tmp ignored\n");
    fs::permissions(script, fs::perms::owner_all);
    const auto entry = work / "org.example.Sigpipe.desktop";
    writeFile(entry, entryWithExec("\"" + script.string() + "\"") + "Path=" + work.string() + "\n");

    const auto previous = signal(SIGPIPE, SIG_IGN);
    const auto error = launchDesktopEntry(entry.string(), {});
    signal(SIGPIPE, previous);
    ASSERT_EQ(error, std::nullopt);
    ASSERT_TRUE(waitForFile(work / "ignored"));
    const unsigned long long ignored = std::stoull(readFile(work / "ignored"), nullptr, 16);
    EXPECT_EQ(ignored & (1ull << (SIGPIPE - 1)), 0u) << "SigIgn " << readFile(work / "ignored");
}

TEST_F(DesktopEntryWorkspaceTest, FailuresAreReadableSentences) {
    const auto work = root / "failures";
    struct Case {
        const char* file;
        std::string contents;  // empty: no file at all
        const char* expectedPart;
    };
    const std::vector<Case> cases{
        {"missing.desktop", "", "could not be read"},
        {"link.desktop", "[Desktop Entry]\nType=Link\nURL=https://example.org\n", "does not describe an application"},
        {"noexec.desktop", "[Desktop Entry]\nType=Application\nName=Velto\n", "has no command that can be run"},
        {"unquoted.desktop", entryWithExec("\"/bin/true"), "has no command that can be run:"},
        {"onlycodes.desktop", entryWithExec("%U"), "has no command that can be run"},
        {"nobinary.desktop", entryWithExec("/nonexistent/velto-main"), "/nonexistent/velto-main"},
    };
    for (const auto& c : cases) {
        const auto path = work / c.file;
        if (!c.contents.empty()) writeFile(path, c.contents);
        const auto error = launchDesktopEntry(path.string(), {"--start-listening"});
        ASSERT_TRUE(error.has_value()) << c.file;
        EXPECT_NE(error->find(c.expectedPart), std::string::npos) << c.file << ": " << *error;
        EXPECT_EQ(error->back(), '.') << *error;
    }
}

}  // namespace
}  // namespace velto::launcher
