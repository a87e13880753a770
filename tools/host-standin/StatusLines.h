#pragma once
// The share view's status lines as the stand-in receives them from the host.

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <iostream>
#include <optional>
#include <regex>
#include <string>
#include <vector>

namespace standin {

struct StatusLine {
    std::string text;
    std::string state() const { return stringValue("state"); }
    std::string message() const { return stringValue("message"); }
    std::string stringValue(const std::string& key) const {
        std::smatch match;
        const std::regex pattern("\"" + key + "\":\"((?:[^\"\\\\]|\\\\.)*)\"");
        return std::regex_search(text, match, pattern) ? match[1].str() : "";
    }
    std::optional<long long> integerValue(const std::string& key) const {
        std::smatch match;
        const std::regex pattern("\"" + key + "\":(-?[0-9]+)");
        if (!std::regex_search(text, match, pattern)) return std::nullopt;
        return std::stoll(match[1].str());
    }
};

class StatusReader {
public:
    using Clock = std::chrono::steady_clock;

    explicit StatusReader(int fd) : fd_(fd) {}

    // The next line, or nothing at the end of the output or of the time.
    std::optional<StatusLine> next(double seconds) {
        const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
        for (;;) {
            if (auto newline = buffer_.find('\n'); newline != std::string::npos) {
                StatusLine line{buffer_.substr(0, newline)};
                buffer_.erase(0, newline + 1);
                std::cout << "VeltoShareView: " << line.text << std::endl;
                lines_.push_back(line);
                return line;
            }
            if (closed_) return std::nullopt;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) return std::nullopt;
            pollfd descriptor{fd_, POLLIN, 0};
            if (poll(&descriptor, 1, int(left.count())) <= 0) continue;
            char chunk[4096];
            const ssize_t count = read(fd_, chunk, sizeof chunk);
            if (count <= 0) closed_ = true;
            else buffer_.append(chunk, std::size_t(count));
        }
    }

    std::optional<StatusLine> waitFor(const std::string& state, double seconds) {
        const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
        for (;;) {
            const double left = std::chrono::duration<double>(deadline - Clock::now()).count();
            if (left <= 0) return std::nullopt;
            auto line = next(left);
            if (!line) return std::nullopt;
            if (line->state() == state) return line;
        }
    }

    // Reads to the end of the output.
    void drain(double seconds) {
        while (next(seconds)) {}
    }

    const std::vector<StatusLine>& lines() const { return lines_; }

private:
    int fd_;
    std::string buffer_;
    bool closed_ = false;
    std::vector<StatusLine> lines_;
};

}  // namespace standin
