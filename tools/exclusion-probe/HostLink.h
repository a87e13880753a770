#pragma once
// The probe's end of the socket to the host: orders out, answers and the
// share view's status lines in.

#include <X11/Xlib.h>

#include <sys/types.h>

#include <deque>
#include <optional>
#include <string>

namespace probe {

class HostLink {
public:
    // Starts this program again as the host, with the share view to run and
    // the private windows it opens first ("x,y,w,h" each, ';' between).
    static std::optional<HostLink> start(const std::string& self, const std::string& shareView,
                                         unsigned long displayID, const std::string& privateBeforeShare);

    pid_t host() const { return host_; }
    pid_t shareView() const { return shareView_; }

    // Sends one order and returns the window of its answer (0 when none).
    Window order(const std::string& line);
    // The next status line of the given state; earlier lines are passed over.
    std::optional<std::string> waitStatus(const std::string& state, double seconds);
    // The share view's wait status once the host has seen it end.
    std::optional<int> waitExit(double seconds);

private:
    std::optional<std::string> nextLine(double seconds);
    bool readOne(double seconds);

    int fd_ = -1;
    pid_t host_ = 0;
    pid_t shareView_ = 0;
    std::string buffer_;
    std::deque<std::string> statusLines_;
    std::deque<std::string> answers_;
    std::optional<int> exit_;
};

}  // namespace probe
