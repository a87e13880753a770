#pragma once
// Work handed to the main thread from any thread. The closures pass under a
// lock of ours and a pipe wakes the main loop; Qt's own posted events would
// hand them over under locks inside Qt, which ThreadSanitizer cannot see in a
// library not built with it, and could destroy a closure on the posting thread.

#include <QPointer>
#include <QSocketNotifier>

#include <deque>
#include <functional>
#include <mutex>

namespace velto::shareview::linux_platform {

class MainThreadQueue {
public:
    MainThreadQueue();
    ~MainThreadQueue();
    MainThreadQueue(const MainThreadQueue&) = delete;
    MainThreadQueue& operator=(const MainThreadQueue&) = delete;

    // Main thread, once the application object exists; work posted before
    // runs as soon as the loop does.
    void attachToMainLoop();
    // Any thread; runs on the main thread in the order posted.
    void post(std::function<void()> work);

private:
    void runPending();

    int wake_[2] = {-1, -1};
    std::mutex mutex_;
    std::deque<std::function<void()>> pending_;  // guarded by mutex_
    // Owned by the application object, so it goes with the main loop.
    QPointer<QSocketNotifier> notifier_;
};

}  // namespace velto::shareview::linux_platform
