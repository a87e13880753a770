#include "StatusLine.h"

#include <cstdio>
#include <optional>
#include <string_view>

namespace velto::shareview {

namespace {

std::vector<std::string>* activeCapture = nullptr;

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

// Quotation mark, backslash and solidus escaped, control characters as short
// escapes or \u00XX, everything else as itself; false on invalid UTF-8.
bool appendString(std::string& out, std::string_view text) {
    out += '"';
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = utf8SequenceLength(text, i);
        if (length == 0) return false;
        const char c = text[i];
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '/': out += "\\/"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escaped[7];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                    out += escaped;
                } else {
                    out.append(text.substr(i, length));
                }
        }
        i += length;
    }
    out += '"';
    return true;
}

bool appendValue(std::string& out, const StatusValue& value) {
    if (const auto* flag = std::get_if<bool>(&value)) {
        out += *flag ? "true" : "false";
        return true;
    }
    if (const auto* number = std::get_if<std::int64_t>(&value)) {
        out += std::to_string(*number);
        return true;
    }
    return appendString(out, std::get<std::string>(value));
}

std::optional<std::string> serialize(const StatusExtra& members) {
    std::string out = "{";
    for (const auto& [key, value] : members) {
        if (out.size() > 1) out += ',';
        if (!appendString(out, key)) return std::nullopt;
        out += ':';
        if (!appendValue(out, value)) return std::nullopt;
    }
    out += '}';
    return out;
}

void emit(const std::string& line) {
    if (activeCapture) {
        activeCapture->push_back(line);
        return;
    }
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

}  // namespace

void report(const std::string& state, const std::string& message, const StatusExtra& extra) {
    try {
        StatusExtra members = extra;
        members["state"] = state;
        members["message"] = message;
        auto line = serialize(members);
        if (!line) return;
        *line += '\n';
        emit(*line);
    } catch (...) {
        // Only allocation can throw here; a lost line is the documented outcome.
    }
}

StatusLineCapture::StatusLineCapture() : previous_(activeCapture) { activeCapture = &lines_; }

StatusLineCapture::~StatusLineCapture() { activeCapture = previous_; }

}  // namespace velto::shareview
