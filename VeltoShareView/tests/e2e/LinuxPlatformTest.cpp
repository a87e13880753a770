// The Linux layer's own plumbing, without a display: the serial queue, the
// main queue and timers on Qt's loop, process probes, and what the layer says
// when there is no X server.

#include <QApplication>
#include <QTimer>

#include "SharePlatform.h"
#include "WorkerQueue.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace velto::shareview {
namespace {

TEST(WorkerQueue, RunsWorkInOrderOnOneThreadOfItsOwn) {
    linux_platform::WorkerQueue queue("com.velto.Velto.share.frames");
    EXPECT_EQ(queue.label(), "com.velto.Velto.share.frames");
    std::mutex mutex;
    std::map<int, std::vector<int>> seenBySender;
    std::set<std::thread::id> workers;
    std::vector<std::thread> senders;
    for (int sender = 0; sender < 4; ++sender)
        senders.emplace_back([&, sender] {
            for (int i = 0; i < 250; ++i)
                queue.async([&, sender, i] {
                    std::lock_guard lock(mutex);
                    seenBySender[sender].push_back(i);
                    workers.insert(std::this_thread::get_id());
                });
        });
    for (auto& sender : senders) sender.join();
    std::atomic<bool> drained = false;
    queue.async([&] { drained = true; });
    while (!drained) std::this_thread::yield();

    std::lock_guard lock(mutex);
    ASSERT_EQ(workers.size(), 1u);
    EXPECT_NE(*workers.begin(), std::this_thread::get_id());
    for (const auto& [sender, seen] : seenBySender) {
        ASSERT_EQ(seen.size(), 250u) << "sender " << sender;
        for (int i = 0; i < 250; ++i) EXPECT_EQ(seen[i], i) << "sender " << sender;
    }
}

TEST(WorkerQueue, MayBeReleasedByItsOwnWork) {
    auto queue = std::make_shared<linux_platform::WorkerQueue>("last reference");
    std::atomic<bool> ran = false;
    queue->async([held = queue, &ran]() mutable {
        held.reset();
        ran = true;
    });
    queue.reset();  // the work now holds the only reference
    for (int i = 0; i < 1000 && !ran; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_TRUE(ran);
}

class MainLoop : public ::testing::Test {
protected:
    // The layer runs inside the program's QApplication and takes it for
    // granted (qApp); offscreen, it needs no display.
    static void SetUpTestSuite() {
        static int argc = 3;
        static char name[] = "linux_platform_tests";
        static char platformOption[] = "-platform";
        static char platformName[] = "offscreen";
        static char* argv[] = {name, platformOption, platformName, nullptr};
        static QApplication application(argc, argv);
    }
    // Runs the loop until `done` or the time is up.
    static void runUntil(const std::function<bool()>& done, int milliseconds = 3000) {
        QTimer deadline;
        deadline.setSingleShot(true);
        deadline.start(milliseconds);
        while (!done() && deadline.isActive()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    }
    std::unique_ptr<SharePlatform> platform = makeSharePlatform();
};

TEST_F(MainLoop, PostedWorkRunsOnTheMainThreadInSubmissionOrder) {
    const auto mainThread = std::this_thread::get_id();
    std::vector<int> order;
    bool offMain = false;
    std::thread poster([&] {
        for (int i = 0; i < 100; ++i)
            platform->postToMain([&, i] {
                offMain |= std::this_thread::get_id() != mainThread;
                order.push_back(i);
            });
    });
    poster.join();
    runUntil([&] { return order.size() == 100; });
    ASSERT_EQ(order.size(), 100u);
    EXPECT_FALSE(offMain);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(order[i], i);
}

struct TimerCase {
    const char* name;
    bool repeats;
    bool keepHandle;
    bool invalidateFirst;
    int minimumFirings;
    int maximumFirings;
};

class Timers : public MainLoop, public ::testing::WithParamInterface<TimerCase> {};

TEST_P(Timers, FireAsScheduled) {
    const TimerCase& c = GetParam();
    int firings = 0;
    auto timer = platform->scheduleTimer(0.02, c.repeats, [&] { ++firings; });
    if (c.invalidateFirst) timer->invalidate();
    if (!c.keepHandle) timer.reset();  // the loop keeps a scheduled timer alive
    bool waited = false;
    QTimer::singleShot(300, [&] { waited = true; });
    runUntil([&] { return waited; });
    EXPECT_GE(firings, c.minimumFirings);
    EXPECT_LE(firings, c.maximumFirings);
    if (timer) timer->invalidate();
}

INSTANTIATE_TEST_SUITE_P(
    LinuxLayer, Timers,
    ::testing::Values(TimerCase{"oneShotFiresOnce", false, true, false, 1, 1},
                      TimerCase{"oneShotWithoutHandle", false, false, false, 1, 1},
                      TimerCase{"repeatingFiresAgain", true, true, false, 3, 20},
                      TimerCase{"invalidatedNeverFires", true, true, true, 0, 0},
                      TimerCase{"invalidatedOneShotWithoutHandle", false, false, true, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MainLoop, ARepeatingTimerMayInvalidateItselfWhileFiring) {
    int firings = 0;
    std::shared_ptr<Timer> timer;
    timer = platform->scheduleTimer(0.01, true, [&] {
        ++firings;
        timer->invalidate();
        timer->invalidate();
        timer.reset();
    });
    bool waited = false;
    QTimer::singleShot(200, [&] { waited = true; });
    runUntil([&] { return waited; });
    EXPECT_EQ(firings, 1);
}

TEST(LinuxProcesses, ProbeTellsLivingFromReapedProcesses) {
    const auto platform = makeSharePlatform();
    EXPECT_EQ(platform->currentProcessID(), getpid());
    EXPECT_EQ(platform->killProbe(getpid()), 0);
    const pid_t child = fork();
    if (child == 0) _exit(0);
    waitpid(child, nullptr, 0);
    EXPECT_NE(platform->killProbe(child), 0);
}

TEST(LinuxDiagnostics, WithoutAnXServerNothingMayBeCaptured) {
    const auto platform = makeSharePlatform();
    const std::string display = std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "";
    setenv("DISPLAY", ":31998", 1);  // no server there
    EXPECT_FALSE(platform->preflightScreenCaptureAccess());
    std::optional<ShareableContentResult> result;
    std::mutex mutex;
    platform->getShareableContent(false, false, [&](ShareableContentResult r) {
        std::lock_guard lock(mutex);
        result = std::move(r);
    });
    for (int i = 0; i < 500; ++i) {
        {
            std::lock_guard lock(mutex);
            if (result) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::lock_guard lock(mutex);
    ASSERT_TRUE(result.has_value());
    EXPECT_FALSE(result->content.has_value());
    ASSERT_TRUE(result->error.has_value());
    EXPECT_FALSE(result->error->localizedDescription.empty());
    if (display.empty()) unsetenv("DISPLAY");
    else setenv("DISPLAY", display.c_str(), 1);
}

TEST(LinuxDiagnostics, TheSystemVersionNamesTheKernel) {
    const std::string version = makeSharePlatform()->operatingSystemVersionString();
    EXPECT_NE(version.find("kernel "), std::string::npos) << version;
}

}  // namespace
}  // namespace velto::shareview
