#include "StateJournal.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <fstream>
#include <iterator>
#include <set>
#include <stdlib.h>
#include <thread>
#include <unistd.h>

namespace velto::launcher {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono;

class TemporaryDirectory {
public:
    TemporaryDirectory() {
        std::string pattern = (fs::temp_directory_path() / "state-journal-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~TemporaryDirectory() { fs::remove_all(path_); }
    const fs::path& path() const { return path_; }
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(path_)) names.push_back(entry.path().filename());
        return names;
    }

private:
    fs::path path_;
};

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

system_clock::time_point utc(int y, unsigned mo, unsigned d, int h, int mi, int s, int ms = 0) {
    return sys_days{year{y} / month{mo} / day{d}} + hours{h} + minutes{mi} + seconds{s} + milliseconds{ms};
}

TEST(StateJournal, InternetDateTimeIsUtcWithWholeSeconds) {
    const struct {
        system_clock::time_point at;
        const char* expected;
    } cases[] = {
        {system_clock::time_point{}, "1970-01-01T00:00:00Z"},
        {utc(2026, 12, 9, 5, 27, 40), "2026-12-09T05:27:40Z"},
        {utc(2026, 12, 9, 5, 27, 40, 999), "2026-12-09T05:27:40Z"},
        {utc(2024, 2, 29, 23, 59, 59, 500), "2024-02-29T23:59:59Z"},
        {utc(1999, 12, 31, 23, 59, 59), "1999-12-31T23:59:59Z"},
        {system_clock::time_point{} - milliseconds{1}, "1969-12-31T23:59:59Z"},
    };
    for (const auto& c : cases) EXPECT_EQ(internetDateTime(c.at), c.expected);
}

TEST(StateJournal, RecordHasExactlyFourMembersOfTheirTypes) {
    const auto record = stateRecord("hold-accepted", utc(2026, 12, 9, 5, 27, 40));
    const auto json = nlohmann::json::parse(record);
    ASSERT_TRUE(json.is_object());
    EXPECT_EQ(json.size(), 4u);
    EXPECT_EQ(json.at("phase"), "hold-accepted");
    EXPECT_EQ(json.at("at"), "2026-12-09T05:27:40Z");
    EXPECT_EQ(json.at("shortcut"), "hold right Option");
    ASSERT_TRUE(json.at("holdSeconds").is_number_float());
    EXPECT_EQ(json.at("holdSeconds").get<double>(), 0.45);
}

TEST(StateJournal, RecordIsPrettyPrintedOneMemberPerLine) {
    const auto record = stateRecord("ready", system_clock::time_point{});
    EXPECT_EQ(std::count(record.begin(), record.end(), '\n'), 6);
    EXPECT_NE(record.find("\n  \"phase\""), std::string::npos);
}

TEST(StateJournal, AnyValidPhaseRoundTrips) {
    for (const std::string& phase : std::initializer_list<std::string>{"", "velto-opened", "quote \" backslash \\ slash /", "line\nbreak\ttab\r",
                                    std::string("nul\0bell\a\x1f", 10), "delete \x7f", "caf\xc3\xa9 \xe2\x8c\xa5 \xf0\x9f\x99\x82"}) {
        const auto record = stateRecord(phase, system_clock::time_point{});
        ASSERT_FALSE(record.empty()) << phase;
        EXPECT_EQ(nlohmann::json::parse(record).at("phase"), phase);
    }
}

TEST(StateJournal, PhaseThatIsNotUtf8GivesNoRecord) {
    for (const std::string phase : {"\xff", "\xc3", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "ok\x80"}) {
        EXPECT_EQ(stateRecord(phase, system_clock::time_point{}), "");
    }
}

TEST(StateJournal, RecordPhaseWritesTheLatestPhaseStampedNow) {
    TemporaryDirectory directory;
    const auto before = floor<seconds>(system_clock::now());
    recordPhase(directory.path(), "hold-accepted");
    recordPhase(directory.path(), "opening-velto");
    recordPhase(directory.path(), "velto-opened");
    const auto after = system_clock::now();

    const auto json = nlohmann::json::parse(readFile(directory.path() / stateFileName));
    EXPECT_EQ(json.at("phase"), "velto-opened");
    const auto at = json.at("at").get<std::string>();
    EXPECT_GE(at, internetDateTime(before));
    EXPECT_LE(at, internetDateTime(after));
    EXPECT_EQ(directory.entries(), std::vector<std::string>{stateFileName});
}

TEST(StateJournal, MissingDirectoryIsNeitherCreatedNorReported) {
    TemporaryDirectory parent;
    const auto missing = parent.path() / "VeltoLauncher";
    recordPhase(missing, "ready");
    recordPhase(missing / "deeper", "ready");
    recordPhase(std::nullopt, "ready");
    EXPECT_FALSE(fs::exists(missing));
    EXPECT_TRUE(parent.entries().empty());
}

TEST(StateJournal, FailedReplaceLeavesNoTemporaryFileBehind) {
    TemporaryDirectory directory;
    // A directory where the file should be makes the final rename fail.
    fs::create_directory(directory.path() / stateFileName);
    fs::create_directory(directory.path() / stateFileName / "keep");
    recordPhase(directory.path(), "ready");
    EXPECT_EQ(directory.entries(), std::vector<std::string>{stateFileName});
    EXPECT_TRUE(fs::is_directory(directory.path() / stateFileName / "keep"));
}

TEST(StateJournal, ReaderNeverSeesAPartialOrEmptyFile) {
    TemporaryDirectory directory;
    const auto file = directory.path() / stateFileName;
    const std::set<std::string> phases = {"ready", "hold-accepted", "opening-velto", "velto-opened",
                                          std::string(3000, 'x')};  // bigger than one small write
    recordPhase(directory.path(), "ready");

    std::atomic<bool> writing{true};
    std::atomic<int> reads{0};
    std::atomic<int> bad{0};
    std::thread reader([&] {
        while (writing.load()) {
            const auto text = readFile(file);
            const auto json = nlohmann::json::parse(text, nullptr, false);
            if (json.is_discarded() || !json.is_object() || !json.contains("phase") || !json["phase"].is_string() ||
                !phases.count(json["phase"].get<std::string>())) {
                ++bad;
            }
            ++reads;
        }
    });
    for (int i = 0; i < 50; ++i) {
        for (const auto& phase : phases) recordPhase(directory.path(), phase);
    }
    writing = false;
    reader.join();
    EXPECT_EQ(bad.load(), 0) << "of " << reads.load() << " reads";
    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(directory.entries(), std::vector<std::string>{stateFileName});
}

TEST(StateJournal, RemovesOnlyTheTemporaryFilesOfWritersThatAreGone) {
    TemporaryDirectory directory;
    const std::string own = std::to_string(::getpid());
    // 999999999 lies above any process id Linux hands out.
    const std::set<std::string> stale = {".launcher-state.json.999999999.123456.1.tmp"};
    const std::set<std::string> kept = {
        ".launcher-state.json." + own + ".123456.1.tmp",  // a writer that still runs
        ".launcher-state.json.999999999.123456.tmp",      // not our pattern: two fields
        ".launcher-state.json.99999999x.123456.1.tmp",
        ".launcher-state.json.999999999..1.tmp",
        ".launcher-state.json.tmp",                        // prefix and suffix overlap
        ".other.json.999999999.123456.1.tmp",
        "launcher-state.json",
        "notes.tmp",
    };
    for (const auto& name : stale) std::ofstream(directory.path() / name) << "{";
    for (const auto& name : kept) std::ofstream(directory.path() / name) << "{";

    removeStaleTemporaryFiles(directory.path());

    const auto names = directory.entries();
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), kept);
    removeStaleTemporaryFiles(directory.path() / "missing");  // nothing to list, nothing thrown
    removeStaleTemporaryFiles(std::nullopt);
}

}  // namespace
}  // namespace velto::launcher
