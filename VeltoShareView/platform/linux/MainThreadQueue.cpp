#include "MainThreadQueue.h"

#include <QCoreApplication>

#include <fcntl.h>
#include <unistd.h>

namespace velto::shareview::linux_platform {

MainThreadQueue::MainThreadQueue() {
    if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) wake_[0] = wake_[1] = -1;
}

MainThreadQueue::~MainThreadQueue() {
    delete notifier_.data();
    for (const int fd : wake_)
        if (fd >= 0) ::close(fd);
}

void MainThreadQueue::attachToMainLoop() {
    if (notifier_ || wake_[0] < 0) return;
    notifier_ = new QSocketNotifier(wake_[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier_.data(), &QSocketNotifier::activated, notifier_.data(), [this] { runPending(); });
}

void MainThreadQueue::post(std::function<void()> work) {
    {
        std::lock_guard lock(mutex_);
        pending_.push_back(std::move(work));
    }
    if (wake_[1] < 0) {
        // No pipe could be made (out of descriptors): Qt's own queue carries
        // the wake-up instead, so that the work is not silently lost.
        QMetaObject::invokeMethod(QCoreApplication::instance(), [this] { runPending(); }, Qt::QueuedConnection);
        return;
    }
    // A full pipe already holds a wake-up; nothing is lost.
    const char wake = 1;
    [[maybe_unused]] const auto written = ::write(wake_[1], &wake, 1);
}

void MainThreadQueue::runPending() {
    char drained[64];
    while (wake_[0] >= 0 && ::read(wake_[0], drained, sizeof drained) > 0) {}
    std::deque<std::function<void()>> ready;
    {
        std::lock_guard lock(mutex_);
        ready.swap(pending_);
    }
    // Work may post more work; that waits for the next wake-up.
    for (auto& work : ready) work();
}

}  // namespace velto::shareview::linux_platform
