// Qt before Xlib and xcb, whose macros would clash with its names.
#include <QGuiApplication>

#include "SessionEnd.h"

#include <xcb/xcb.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace velto::shareview::linux_platform {
namespace {

constexpr int terminationSignals[] = {SIGTERM, SIGINT, SIGHUP};

int signalPipe[2] = {-1, -1};

// Only write() here: everything else happens on the main thread.
void onTerminationSignal(int number) {
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    [[maybe_unused]] const ssize_t written = write(signalPipe[1], &byte, 1);
    errno = savedErrno;
}

// Read by the exit handler; set and cleared on the main thread.
std::atomic<SessionEnd*> current{nullptr};
xcb_connection_t* qtConnection = nullptr;
std::thread::id mainThread;

}  // namespace

void SessionEnd::holdTerminationSignals() {
    if (signalPipe[0] >= 0 || pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    // Should the main thread be stuck, a second signal ends the process at once.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    for (const int number : terminationSignals) {
        // One ignored from the start (nohup, a background job) stays ignored.
        struct sigaction previous {};
        if (sigaction(number, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
        sigaction(number, &action, nullptr);
    }
}

SessionEnd::SessionEnd(std::function<void()> end) : end_(std::move(end)) {
    if (signalPipe[0] >= 0) {
        notifier_ = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
        // Level-triggered: a signal held since start-up is already in the pipe.
        connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { readSignals(); });
    }
    if (const auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr)
        qtConnection = x11->connection();
    mainThread = std::this_thread::get_id();
    current = this;
    // Exit handlers and static destructors run last-registered first: this
    // one runs before those registered so far, Qt's among them.
    static const bool registered = std::atexit(onExit) == 0;
    (void)registered;
}

SessionEnd::~SessionEnd() { current = nullptr; }

void SessionEnd::readSignals() {
    unsigned char bytes[16];
    bool received = false;
    while (read(signalPipe[0], bytes, sizeof bytes) > 0) received = true;
    if (received) end_();
}

void SessionEnd::onExit() {
    SessionEnd* self = current.load();
    if (self == nullptr || std::this_thread::get_id() != mainThread) return;
    if (qtConnection == nullptr || xcb_connection_has_error(qtConnection) == 0) return;
    self->end_();
}

}  // namespace velto::shareview::linux_platform
