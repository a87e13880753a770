#pragma once

#include "SharePlatform.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace velto::shareview::linux_platform {

// A serial queue on one thread of its own.
class WorkerQueue final : public SerialQueue {
public:
    explicit WorkerQueue(std::string label);
    ~WorkerQueue() override;

    const std::string& label() const override { return label_; }
    void async(std::function<void()> work) override;

private:
    // Shared with the thread, which may outlive the queue object when the
    // last reference is dropped by work running on the queue itself.
    struct Backlog {
        std::mutex mutex;
        std::condition_variable wake;
        std::deque<std::function<void()>> pending;
        bool closing = false;
    };
    static void drain(const std::shared_ptr<Backlog>& backlog);

    const std::string label_;
    const std::shared_ptr<Backlog> backlog_;
    std::thread thread_;
};

}  // namespace velto::shareview::linux_platform
