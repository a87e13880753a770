#pragma once
// The share view's only channel to its parent: one compact JSON object per
// line on standard output, with "state", "message" and the state's extra keys.

#include <cstdint>
#include <map>
#include <string>
#include <variant>
#include <vector>

namespace velto::shareview {

// 64 bits hold every unsigned 32-bit display identifier and every signed
// 64-bit count exactly.
using StatusValue = std::variant<bool, std::int64_t, std::string>;
using StatusExtra = std::map<std::string, StatusValue>;

// Writes one line and flushes it before returning. `state` and `message`
// replace extra keys of the same name. A string that is not valid UTF-8
// cannot be JSON: then nothing at all is written. Main thread only.
void report(const std::string& state, const std::string& message = "", const StatusExtra& extra = {});

// While one lives, lines (each with its LF) are recorded here instead of
// going to standard output; the previous destination comes back afterwards.
class StatusLineCapture {
public:
    StatusLineCapture();
    ~StatusLineCapture();
    StatusLineCapture(const StatusLineCapture&) = delete;
    StatusLineCapture& operator=(const StatusLineCapture&) = delete;

    const std::vector<std::string>& lines() const { return lines_; }

private:
    std::vector<std::string> lines_;
    std::vector<std::string>* previous_;
};

}  // namespace velto::shareview
