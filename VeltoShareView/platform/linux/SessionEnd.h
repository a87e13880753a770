#pragma once
// The two ways the share view is ended from outside that still owe the parent
// the orderly ending: a termination signal (SIGTERM, SIGINT, SIGHUP: how a
// parent or a session manager stops a child), and the loss of Qt's own X
// connection (the window killed with xkill, or the X server gone).
//
// Qt's xcb plugin ends the process with exit(1) when its connection breaks
// (QXcbConnection::processXcbEvents on the main thread, woken by the event
// reader thread; Xlib's I/O error exit on Qt's display does the same). Nothing
// can run before that, so an exit handler registered after Qt's own turns that
// exit into the orderly one.

#include <QObject>
#include <QSocketNotifier>

#include <functional>
#include <memory>

namespace velto::shareview::linux_platform {

class SessionEnd final : public QObject {
public:
    // From this call on a termination signal no longer ends the process: it is
    // held until a SessionEnd exists. Call it before the application object.
    // Signals ignored at start stay ignored.
    static void holdTerminationSignals();

    // Main thread, with the application object alive. `end` runs on the main
    // thread for a held or later signal, or inside exit() when Qt's connection
    // broke; it must not return when it has ended the process.
    explicit SessionEnd(std::function<void()> end);
    ~SessionEnd() override;

private:
    static void onExit();
    void readSignals();

    std::function<void()> end_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace velto::shareview::linux_platform
