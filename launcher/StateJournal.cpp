#include "StateJournal.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <signal.h>
#include <string>
#include <unistd.h>

namespace velto::launcher {

namespace {

constexpr const char* shortcutDescription = "hold right Option";
constexpr const char* holdSecondsLiteral = "0.45";

// Length of the well-formed UTF-8 sequence starting at `i`, or 0.
std::size_t utf8SequenceLength(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // overlong
        if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;   // overlong
        if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    if (byte(i + 1) < low || byte(i + 1) > high) return 0;
    for (std::size_t k = 2; k < length; ++k) {
        if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
    }
    return length;
}

std::optional<std::string> jsonString(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = utf8SequenceLength(text, i);
        if (length == 0) return std::nullopt;
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[7];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out.append(text.substr(i, length));
        }
        i += length;
    }
    out += '"';
    return out;
}

bool writeAll(int fd, const std::string& data) {
    std::size_t written = 0;
    while (written < data.size()) {
        const ssize_t n = ::write(fd, data.data() + written, data.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        written += static_cast<std::size_t>(n);
    }
    return true;
}

constexpr std::string_view temporarySuffix = ".tmp";

std::string temporaryPrefix() { return "." + std::string(stateFileName) + "."; }

// Creates a fresh file beside the target; O_EXCL makes the name ours alone.
// The name: the prefix, then the writer's process id, a clock stamp and a
// counter, each in decimal, then the suffix.
int createTemporary(const std::filesystem::path& directory, std::filesystem::path& path) {
    static std::uint64_t counter = 0;
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    for (int attempt = 0; attempt < 16; ++attempt) {
        path = directory / (temporaryPrefix() + std::to_string(::getpid()) + "." + std::to_string(stamp) + "." +
                            std::to_string(++counter) + std::string(temporarySuffix));
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

// The writer's process id when `name` is one of our temporary files.
std::optional<pid_t> writerOfTemporary(std::string_view name) {
    const std::string prefix = temporaryPrefix();
    // Prefix and suffix may overlap in a short name (".launcher-state.json.tmp").
    if (name.size() < prefix.size() + temporarySuffix.size() || !name.starts_with(prefix) ||
        !name.ends_with(temporarySuffix))
        return std::nullopt;
    name.remove_prefix(prefix.size());
    name.remove_suffix(temporarySuffix.size());
    long long pid = 0;
    int fields = 0;
    std::size_t fieldLength = 0;
    for (const char c : name) {
        if (c == '.') {
            if (fieldLength == 0) return std::nullopt;
            ++fields;
            fieldLength = 0;
        } else if (c >= '0' && c <= '9') {
            if (fields == 0 && pid < 1'000'000'000'000) pid = pid * 10 + (c - '0');
            ++fieldLength;
        } else {
            return std::nullopt;
        }
    }
    if (fields != 2 || fieldLength == 0 || pid <= 0 || pid > INT32_MAX) return std::nullopt;
    return static_cast<pid_t>(pid);
}

bool isRunning(pid_t pid) { return ::kill(pid, 0) == 0 || errno != ESRCH; }

void replaceAtomically(const std::filesystem::path& directory, const std::string& contents) {
    std::filesystem::path temporary;
    const int fd = createTemporary(directory, temporary);
    if (fd < 0) return;
    const bool durable = writeAll(fd, contents) && ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    const auto target = directory / stateFileName;
    if (!durable || !closed || ::rename(temporary.c_str(), target.c_str()) != 0) {
        ::unlink(temporary.c_str());
    }
}

}  // namespace

void recordPhase(const std::optional<std::filesystem::path>& directory, std::string_view phase) {
    if (!directory) return;
    try {
        const std::string record = stateRecord(phase, std::chrono::system_clock::now());
        if (record.empty()) return;
        replaceAtomically(*directory, record);
    } catch (...) {
        // Only allocation can throw here; a lost record changes nothing else.
    }
}

void removeStaleTemporaryFiles(const std::optional<std::filesystem::path>& directory) {
    if (!directory) return;
    try {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(*directory, error)) {
            const auto writer = writerOfTemporary(entry.path().filename().string());
            if (writer && !isRunning(*writer)) std::filesystem::remove(entry.path(), error);
        }
    } catch (...) {
        // A directory that cannot be listed keeps its files; nothing else depends on it.
    }
}

std::string stateRecord(std::string_view phase, std::chrono::system_clock::time_point now) {
    const auto phaseJSON = jsonString(phase);
    if (!phaseJSON) return {};
    return "{\n"
           "  \"phase\" : " + *phaseJSON + ",\n"
           "  \"at\" : \"" + internetDateTime(now) + "\",\n"
           "  \"shortcut\" : \"" + shortcutDescription + "\",\n"
           "  \"holdSeconds\" : " + holdSecondsLiteral + "\n"
           "}\n";
}

std::string internetDateTime(std::chrono::system_clock::time_point now) {
    using namespace std::chrono;
    const auto seconds = floor<std::chrono::seconds>(now);
    const auto day = floor<days>(seconds);
    const year_month_day date{day};
    const hh_mm_ss time{seconds - day};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02ld:%02ld:%02ldZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<long>(time.hours().count()), static_cast<long>(time.minutes().count()),
                  static_cast<long>(time.seconds().count()));
    return text;
}

}  // namespace velto::launcher
