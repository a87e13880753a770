#pragma once
// The host: the process that plays the main application. It shows a private
// window, starts VeltoShareView as its child with its own process identifier,
// and is the only reader of the child's standard output, as the main
// application is. It relays what it reads to the stand-in over a socket of
// its own, so that no other process ever holds the status pipe, and it ends
// with the share view's exit status.

#include "StandinWindows.h"

#include <sys/types.h>

#include <optional>
#include <string>

namespace standin {

struct HostPlan {
    std::string shareView;
    unsigned long displayID = 0;
    bool xClient = true;       // shows its private window (and is an X client at all)
    bool waylandSession = false;
    Area privateArea;
    Area lateArea;             // a second private window, on request
    std::string windowClass;   // of the private windows
};

class Host {
public:
    // Forks the host; `closeInHost` is a descriptor of the stand-in's that
    // the host must not keep (its X connection). Nothing when the host could
    // not start the share view.
    static std::optional<Host> start(const HostPlan& plan, int closeInHost);

    pid_t pid() const { return pid_; }
    pid_t shareView() const { return shareView_; }
    // The share view's output as the host read it; the end of it when the
    // host ends.
    int relay() const { return relay_; }

    void openLateWindow() const { send('w'); }
    // The host closes its read end of the status pipe and lives on.
    void closeStatusPipe() const { send('c'); }

private:
    Host(pid_t pid, pid_t shareView, int relay) : pid_(pid), shareView_(shareView), relay_(relay) {}
    void send(char command) const;

    pid_t pid_;
    pid_t shareView_;
    int relay_;
};

}  // namespace standin
