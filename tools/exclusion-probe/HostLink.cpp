#include "HostLink.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <iostream>
#include <vector>

namespace probe {
namespace {

using Clock = std::chrono::steady_clock;

bool startsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

std::optional<HostLink> HostLink::start(const std::string& self, const std::string& shareView,
                                        unsigned long displayID, const std::string& privateBeforeShare) {
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return std::nullopt;
    const pid_t host = fork();
    if (host == 0) {
        // Only the host's end survives the exec; the probe's X connection and
        // every other descriptor of the probe are close-on-exec or closed here.
        close(ends[0]);
        const int link = dup(ends[1]);
        const std::string linkText = std::to_string(link), id = std::to_string(displayID);
        std::vector<const char*> arguments{self.c_str(),   "--role",       "host",
                                           "--link",       linkText.c_str(), "--share-view",
                                           shareView.c_str(), "--display-id", id.c_str()};
        if (!privateBeforeShare.empty()) {
            arguments.push_back("--private-before-share");
            arguments.push_back(privateBeforeShare.c_str());
        }
        arguments.push_back(nullptr);
        execv(self.c_str(), const_cast<char* const*>(arguments.data()));
        _exit(127);
    }
    close(ends[1]);
    HostLink link;
    link.fd_ = ends[0];
    link.host_ = host;
    const auto first = link.nextLine(15);
    if (!first || !startsWith(*first, "shareview ")) return std::nullopt;
    link.shareView_ = pid_t(std::stol(first->substr(10)));
    return link;
}

std::optional<std::string> HostLink::nextLine(double seconds) {
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        if (auto end = buffer_.find('\n'); end != std::string::npos) {
            std::string line = buffer_.substr(0, end);
            buffer_.erase(0, end + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 || fd_ < 0) return std::nullopt;
        pollfd watched{fd_, POLLIN, 0};
        if (poll(&watched, 1, int(left.count())) <= 0) continue;
        char chunk[4096];
        const ssize_t count = read(fd_, chunk, sizeof chunk);
        if (count <= 0) {
            close(fd_);
            fd_ = -1;
            return std::nullopt;
        }
        buffer_.append(chunk, std::size_t(count));
    }
}

// Status lines and the exit may come between an order and its answer.
bool HostLink::readOne(double seconds) {
    auto line = nextLine(seconds);
    if (!line) return false;
    if (startsWith(*line, "status ")) {
        std::cout << "VeltoShareView: " << line->substr(7) << std::endl;
        statusLines_.push_back(line->substr(7));
    } else if (startsWith(*line, "exit ")) {
        exit_ = std::stoi(line->substr(5));
    } else {
        answers_.push_back(*line);
    }
    return true;
}

Window HostLink::order(const std::string& line) {
    const std::string text = line + "\n";
    if (fd_ < 0 || write(fd_, text.data(), text.size()) != ssize_t(text.size())) return None;
    while (answers_.empty())
        if (!readOne(10)) return None;
    const std::string answer = answers_.front();
    answers_.pop_front();
    return answer.size() > 3 ? Window(std::stoul(answer.substr(3))) : None;
}

std::optional<std::string> HostLink::waitStatus(const std::string& state, double seconds) {
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    const std::string wanted = "\"state\":\"" + state + "\"";
    for (;;) {
        while (!statusLines_.empty()) {
            std::string line = statusLines_.front();
            statusLines_.pop_front();
            if (line.find(wanted) != std::string::npos) return line;
        }
        const double left = std::chrono::duration<double>(deadline - Clock::now()).count();
        if (left <= 0 || exit_ || !readOne(left)) return std::nullopt;
    }
}

std::optional<int> HostLink::waitExit(double seconds) {
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    while (!exit_) {
        const double left = std::chrono::duration<double>(deadline - Clock::now()).count();
        if (left <= 0 || !readOne(left)) break;
    }
    return exit_;
}

}  // namespace probe
