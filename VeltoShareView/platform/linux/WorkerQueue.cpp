#include "WorkerQueue.h"

#include <pthread.h>

namespace velto::shareview::linux_platform {

WorkerQueue::WorkerQueue(std::string label)
    : label_(std::move(label)), backlog_(std::make_shared<Backlog>()) {
    thread_ = std::thread([backlog = backlog_] { drain(backlog); });
    // Thread names are limited to 15 bytes; the tail of the label is the telling part.
    const std::string name = label_.size() > 15 ? label_.substr(label_.size() - 15) : label_;
    pthread_setname_np(thread_.native_handle(), name.c_str());
}

WorkerQueue::~WorkerQueue() {
    {
        std::lock_guard lock(backlog_->mutex);
        backlog_->closing = true;
    }
    backlog_->wake.notify_one();
    if (thread_.get_id() == std::this_thread::get_id())
        thread_.detach();
    else
        thread_.join();
}

void WorkerQueue::async(std::function<void()> work) {
    {
        std::lock_guard lock(backlog_->mutex);
        backlog_->pending.push_back(std::move(work));
    }
    backlog_->wake.notify_one();
}

void WorkerQueue::drain(const std::shared_ptr<Backlog>& backlog) {
    for (;;) {
        std::function<void()> work;
        {
            std::unique_lock lock(backlog->mutex);
            backlog->wake.wait(lock, [&] { return backlog->closing || !backlog->pending.empty(); });
            if (backlog->pending.empty()) return;
            work = std::move(backlog->pending.front());
            backlog->pending.pop_front();
        }
        work();
    }
}

}  // namespace velto::shareview::linux_platform
