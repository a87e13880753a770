// `report` with state, message and extra keys from the input. Every line must
// parse as exactly one JSON object with one LF at its end, carry every string
// unchanged, and let the state and message arguments win; a string that is
// not valid UTF-8 must leave nothing written at all.

#include "StatusLine.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using namespace velto::shareview;

void require(bool holds, const char* property) {
    if (holds) return;
    std::fprintf(stderr, "status line property violated: %s\n", property);
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

bool sameValue(const nlohmann::json& parsed, const StatusValue& value) {
    if (const auto* flag = std::get_if<bool>(&value)) return parsed.is_boolean() && parsed.get<bool>() == *flag;
    if (const auto* number = std::get_if<std::int64_t>(&value)) {
        return parsed.is_number_integer() && parsed.get<std::int64_t>() == *number;
    }
    return parsed.is_string() && parsed.get<std::string>() == std::get<std::string>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string state = input.ConsumeRandomLengthString(64);
    const std::string message = input.ConsumeRandomLengthString(512);
    StatusExtra extra;
    for (int count = input.ConsumeIntegralInRange(0, 4); count > 0; --count) {
        const std::string key = input.ConsumeBool() ? input.PickValueInArray({"state", "message", "displayID"})
                                                    : input.ConsumeRandomLengthString(32);
        switch (input.ConsumeIntegralInRange(0, 2)) {
            case 0: extra[key] = input.ConsumeBool(); break;
            case 1: extra[key] = input.ConsumeIntegral<std::int64_t>(); break;
            default: extra[key] = input.ConsumeRandomLengthString(128); break;
        }
    }

    StatusExtra expected = extra;
    expected["state"] = state;
    expected["message"] = message;
    bool writable = true;
    for (const auto& [key, value] : expected) {
        writable = writable && validUtf8(key);
        if (const auto* text = std::get_if<std::string>(&value)) writable = writable && validUtf8(*text);
    }

    StatusLineCapture capture;
    report(state, message, extra);

    if (!writable) {
        require(capture.lines().empty(), "invalid UTF-8 writes nothing");
        return 0;
    }
    require(capture.lines().size() == 1, "one line per call");
    const std::string& line = capture.lines().front();
    require(!line.empty() && line.back() == '\n', "the line ends with LF");
    const std::string body = line.substr(0, line.size() - 1);
    require(body.find('\n') == std::string::npos, "no other LF in the line");
    require(!body.empty() && body.front() == '{' && body.back() == '}', "compact object");
    nlohmann::json parsed;
    try {
        parsed = nlohmann::json::parse(body);
    } catch (const nlohmann::json::parse_error&) {
        require(false, "the line parses as JSON");
    }
    require(parsed.is_object(), "the line is one JSON object");
    require(parsed.size() == expected.size(), "exactly the expected members");
    for (const auto& [key, value] : expected) {
        require(parsed.contains(key) && sameValue(parsed[key], value), "every member round-trips");
    }
    return 0;
}
