#include "Host.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace standin {
namespace {

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written <= 0) return false;
        data += written;
        size -= std::size_t(written);
    }
    return true;
}

[[noreturn]] void execShareView(const HostPlan& plan, int statusWrite) {
    dup2(statusWrite, STDOUT_FILENO);
    close(statusWrite);
    // A main application that never touched these signals; the stand-in
    // ignores SIGPIPE (and a shell may have ignored others), and an ignored
    // signal would survive the exec.
    for (const int number : {SIGPIPE, SIGINT, SIGTERM, SIGHUP}) signal(number, SIG_DFL);
    // On a Wayland session an X client cannot see every window.
    if (plan.waylandSession) setenv("WAYLAND_DISPLAY", "wayland-standin", 1);
    const std::string parent = std::to_string(getppid());
    const std::string id = std::to_string(plan.displayID);
    execl(plan.shareView.c_str(), plan.shareView.c_str(), "--parent-pid", parent.c_str(), "--display-id",
          id.c_str(), static_cast<char*>(nullptr));
    _exit(127);
}

// Reads the status pipe and relays it, answers the stand-in's requests, and
// ends with the share view's exit status once it has relayed the last line.
[[noreturn]] void runHost(const HostPlan& plan, int control) {
    ::Display* display = nullptr;
    if (plan.xClient) {
        display = XOpenDisplay(nullptr);
        if (!display) _exit(70);
        const Window window = openPrivateWindow(display, plan.privateArea, plan.windowClass);
        if (!waitViewable(display, window, 5)) _exit(71);
    }
    int status[2];
    if (pipe2(status, O_CLOEXEC) != 0) _exit(72);
    const pid_t child = fork();
    if (child < 0) _exit(73);
    if (child == 0) execShareView(plan, status[1]);
    close(status[1]);
    if (!writeAll(control, reinterpret_cast<const char*>(&child), sizeof child)) _exit(74);

    int statusRead = status[0];
    const auto relayAvailable = [&](bool toTheEnd) {
        char chunk[4096];
        for (;;) {
            pollfd descriptor{statusRead, POLLIN, 0};
            if (!toTheEnd && poll(&descriptor, 1, 0) <= 0) return;
            const ssize_t count = read(statusRead, chunk, sizeof chunk);
            if (count <= 0) {
                close(statusRead);
                statusRead = -1;
                return;
            }
            writeAll(control, chunk, std::size_t(count));
        }
    };
    for (;;) {
        pollfd descriptors[2] = {{statusRead, POLLIN, 0}, {control, POLLIN, 0}};
        poll(descriptors, 2, 20);
        if (statusRead >= 0 && descriptors[0].revents != 0) relayAvailable(false);
        char command = 0;
        if ((descriptors[1].revents & POLLIN) && read(control, &command, 1) == 1) {
            if (command == 'w' && display) openPrivateWindow(display, plan.lateArea, plan.windowClass);
            if (command == 'c' && statusRead >= 0) {
                close(statusRead);
                statusRead = -1;
            }
        }
        int exit = 0;
        if (waitpid(child, &exit, WNOHANG) == child) {
            if (statusRead >= 0) relayAvailable(true);
            _exit(WIFEXITED(exit) ? WEXITSTATUS(exit) : 128 + WTERMSIG(exit));
        }
    }
}

}  // namespace

std::optional<Host> Host::start(const HostPlan& plan, int closeInHost) {
    int channel[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, channel) != 0) return std::nullopt;
    const pid_t host = fork();
    if (host < 0) return std::nullopt;
    if (host == 0) {
        close(channel[0]);
        if (closeInHost >= 0) close(closeInHost);
        runHost(plan, channel[1]);
    }
    close(channel[1]);
    pid_t shareView = 0;
    if (read(channel[0], &shareView, sizeof shareView) != sizeof shareView) {
        close(channel[0]);
        kill(host, SIGKILL);
        waitpid(host, nullptr, 0);
        return std::nullopt;
    }
    return Host(host, shareView, channel[0]);
}

void Host::send(char command) const {
    [[maybe_unused]] const ssize_t sent = write(relay_, &command, 1);
}

}  // namespace standin
