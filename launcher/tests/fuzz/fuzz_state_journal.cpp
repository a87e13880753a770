// The state journal's record for a phase and a wall-clock time from the
// input: it must parse back as one JSON object with exactly the four members,
// the phase unchanged; a phase that is not valid UTF-8 gives no record.

#include "StateJournal.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

namespace {

using namespace velto::launcher;

void require(bool holds, const char* property) {
    if (holds) return;
    std::fprintf(stderr, "state journal property violated: %s\n", property);
    std::abort();
}

// nlohmann's strict serializer is the independent judge of UTF-8.
bool validUtf8(const std::string& text) {
    try {
        (void)nlohmann::json(text).dump();
        return true;
    } catch (const nlohmann::json::type_error&) {
        return false;
    }
}

// The C library's calendar, rounding down to the second before the epoch too.
std::string plainDateTime(std::int64_t nanoseconds) {
    constexpr std::int64_t perSecond = 1'000'000'000;
    const std::time_t seconds = nanoseconds / perSecond - (nanoseconds % perSecond < 0 ? 1 : 0);
    std::tm calendar{};
    gmtime_r(&seconds, &calendar);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &calendar);
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    // Every time point the clock can hold: years 1677 to 2262.
    const std::int64_t nanoseconds = input.ConsumeIntegral<std::int64_t>();
    const std::string phase = input.ConsumeRemainingBytesAsString();
    const std::chrono::system_clock::time_point now{std::chrono::nanoseconds(nanoseconds)};

    const std::string record = stateRecord(phase, now);

    if (!validUtf8(phase)) {
        require(record.empty(), "no record for a phase that is not UTF-8");
        return 0;
    }
    nlohmann::json parsed;
    try {
        parsed = nlohmann::json::parse(record);
    } catch (const nlohmann::json::parse_error&) {
        require(false, "the record parses as JSON");
    }
    require(parsed.is_object() && parsed.size() == 4, "one object with four members");
    require(parsed.contains("phase") && parsed["phase"].is_string() && parsed["phase"].get<std::string>() == phase,
            "the phase round-trips");
    require(parsed.contains("at") && parsed["at"].is_string() && parsed["at"].get<std::string>() == plainDateTime(nanoseconds),
            "the time in RFC 3339 UTC with whole seconds");
    require(parsed.contains("shortcut") && parsed["shortcut"] == "hold right Option", "the shortcut");
    require(parsed.contains("holdSeconds") && parsed["holdSeconds"].is_number_float() &&
                parsed["holdSeconds"].get<double>() == 0.45,
            "the hold delay as a number");
    return 0;
}
