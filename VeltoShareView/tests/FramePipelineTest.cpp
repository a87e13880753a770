// Frames from the stream's output to the layer: the gate, what each status
// does, the layer's states, and the two threads meeting at framePending.

#include "ShareViewFixture.h"

#include <gmock/gmock.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace velto::shareview::testing {
namespace {

using ::testing::Each;
using ::testing::ElementsAre;
using Strings = std::vector<std::string>;

class FramePipelineTest : public ShareViewFixture {
protected:
    // Frames queue only: whatever the output submits stays on the main queue.
    void emitWithoutMainLoop(const SampleBufferRef& buffer, StreamOutputType type = StreamOutputType::screen) {
        platform.stream().emit(buffer, type);
        platform.framesQueue().drain();
    }

    // How many closures the frame submitted to the main queue.
    std::size_t submissionsFor(const SampleBufferRef& buffer, StreamOutputType type = StreamOutputType::screen) {
        platform.runUntilIdle();
        platform.resetMainBacklog();
        emitWithoutMainLoop(buffer, type);
        const std::size_t submitted = platform.maxMainBacklog();
        platform.runUntilIdle();
        return submitted;
    }
};

TEST_F(FramePipelineTest, ABurstHandsOffOnePictureUntilTheMainThreadHasShownIt) {
    launchAndGoLive();
    std::vector<SampleBufferRef> burst;
    for (int i = 0; i < 5; ++i) {
        burst.push_back(FakeSampleBuffer::withStatus(0));
        emitWithoutMainLoop(burst.back());
    }
    platform.runUntilIdle();
    ASSERT_EQ(platform.layer().enqueued.size(), 2u);
    EXPECT_EQ(platform.layer().enqueued[1], burst.front());

    const auto next = FakeSampleBuffer::withStatus(0);
    deliver(next);
    ASSERT_EQ(platform.layer().enqueued.size(), 3u);
    EXPECT_EQ(platform.layer().enqueued[2], next);
}

TEST_F(FramePipelineTest, FirstPictureIsMarkedEnqueuedThenHidesTheLabelAndReportsLiveOnce) {
    launch();
    const std::size_t before = timelineSoFar().size();
    for (int i = 0; i < 4; ++i) {
        deliver(FakeSampleBuffer::withStatus(0));
    }
    const Strings timeline = timelineSoFar();
    EXPECT_THAT(Strings(timeline.begin() + static_cast<std::ptrdiff_t>(before), timeline.end()),
                ElementsAre("enqueue", "label hidden", "report live", "enqueue", "enqueue", "enqueue"));
    EXPECT_THAT(platform.layer().markedWhenEnqueued, Each(true));
    EXPECT_EQ(lastMessage(), liveMessage);
    EXPECT_EQ(reports().back().size(), 2u);
    EXPECT_TRUE(platform.label().hidden);
}

// Nothing new: no submission, no picture, and the watchdog still waits for a real one.
TEST_F(FramePipelineTest, IdleStartedAndUnknownStatusesAreSkippedAndAreNoFirstPicture) {
    for (const std::int64_t status : {1, 4, 6, -1}) {
        SCOPED_TRACE(status);
        ShareViewHarness run;
        run.launch();
        run.platform.resetMainBacklog();
        run.platform.stream().emit(FakeSampleBuffer::withStatus(status));
        run.platform.framesQueue().drain();
        EXPECT_EQ(run.platform.maxMainBacklog(), 0u);
        run.platform.runUntilIdle();
        EXPECT_TRUE(run.platform.layer().enqueued.empty());
        EXPECT_FALSE(run.platform.label().hidden);

        run.platform.advance(12);
        EXPECT_EQ(run.states(), (Strings{"starting", "error"}));
        EXPECT_EQ(run.lastMessage(), noFramesMessage);
    }
}

TEST_F(FramePipelineTest, UnusableBuffersAreDroppedSilentlyAndLeaveTheGateOpen) {
    struct Case {
        std::string name;
        SampleBufferRef buffer;
        StreamOutputType type;
    };
    const std::vector<Case> cases = {
        {"not valid", FakeSampleBuffer::invalid(), StreamOutputType::screen},
        {"no readable status", FakeSampleBuffer::withoutStatus(), StreamOutputType::screen},
        {"no buffer", nullptr, StreamOutputType::screen},
        {"audio output", FakeSampleBuffer::withStatus(0), StreamOutputType::audio},
        {"microphone output", FakeSampleBuffer::withStatus(2), StreamOutputType::microphone},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ShareViewHarness run;
        run.launch();
        run.platform.resetMainBacklog();
        run.platform.stream().emit(c.buffer, c.type);
        run.platform.framesQueue().drain();
        EXPECT_EQ(run.platform.maxMainBacklog(), 0u);

        run.deliver(FakeSampleBuffer::withStatus(0));
        EXPECT_EQ(run.states(), (Strings{"starting", "live"}));
        EXPECT_EQ(run.platform.layer().enqueued.size(), 1u);
    }
}

// Every such frame submits its own closure; fail() keeps only the first.
TEST_F(FramePipelineTest, BlankSuspendedOrStoppedSourceEndsTheShareOnceHoweverManyArrive) {
    for (const bool liveBefore : {false, true}) {
        for (const std::int64_t status : {2, 3, 5}) {
            SCOPED_TRACE("status " + std::to_string(status) + (liveBefore ? " after a picture" : " before any picture"));
            ShareViewHarness run;
            run.launch();
            if (liveBefore) {
                run.deliver(FakeSampleBuffer::withStatus(0));
            }
            const std::size_t shown = run.platform.layer().enqueued.size();
            run.platform.resetMainBacklog();
            run.platform.stream().emit(FakeSampleBuffer::withStatus(status));
            run.platform.framesQueue().drain();
            EXPECT_EQ(run.platform.maxMainBacklog(), 1u);  // its own closure, and the gate stays open
            run.platform.stream().emit(FakeSampleBuffer::withStatus(status));
            run.platform.stream().emit(FakeSampleBuffer::withStatus(status));
            run.platform.stream().emit(FakeSampleBuffer::withStatus(0));
            run.platform.framesQueue().drain();
            EXPECT_EQ(run.platform.maxMainBacklog(), 4u);
            run.platform.runUntilIdle();
            run.deliver(FakeSampleBuffer::withStatus(status));
            run.deliver(FakeSampleBuffer::withStatus(0));

            Strings expected = liveBefore ? Strings{"starting", "live", "error"} : Strings{"starting", "error"};
            EXPECT_EQ(run.states(), expected);
            EXPECT_EQ(run.lastMessage(), sourceFailureMessage);
            EXPECT_EQ(run.platform.layer().enqueued.size(), shown);
            EXPECT_FALSE(run.platform.layer().showsPicture);
            EXPECT_EQ(run.platform.label().text, stoppedText);
        }
    }
}

TEST_F(FramePipelineTest, LayerNotReadyCostsOnePictureAndTheNextCompleteFrameTriesAgain) {
    launch();
    platform.layer().ready = false;
    deliver(FakeSampleBuffer::withStatus(0));
    EXPECT_TRUE(platform.layer().enqueued.empty());
    EXPECT_EQ(states(), Strings{"starting"});
    EXPECT_FALSE(platform.label().hidden);
    EXPECT_EQ(platform.validTimers().size(), 2u);  // the watchdog still runs

    platform.layer().ready = true;
    deliver(FakeSampleBuffer::withStatus(0));
    EXPECT_EQ(platform.layer().enqueued.size(), 1u);
    EXPECT_EQ(states(), (Strings{"starting", "live"}));
}

TEST_F(FramePipelineTest, FailedLayerReportsTheRendererEvenWhenItIsAlsoNotReady) {
    for (const bool ready : {true, false}) {
        SCOPED_TRACE(ready ? "ready" : "not ready");
        ShareViewHarness run;
        run.launch();
        run.platform.layer().layerStatus = LayerStatus::failed;
        run.platform.layer().ready = ready;
        run.deliver(FakeSampleBuffer::withStatus(0));
        run.platform.layer().layerStatus = LayerStatus::rendering;
        run.platform.layer().ready = true;
        run.deliver(FakeSampleBuffer::withStatus(0));

        EXPECT_EQ(run.states(), (Strings{"starting", "error"}));
        EXPECT_EQ(run.lastMessage(), rendererStoppedMessage);
        EXPECT_TRUE(run.platform.layer().enqueued.empty());
        EXPECT_EQ(run.platform.stream().stopRequests, 1);
    }
}

// After a failure complete frames still pass the gate, are dropped on the
// main thread, and reopen it every time.
TEST_F(FramePipelineTest, PicturesAfterTheStopAreDroppedAndTheGateReopens) {
    launchAndGoLive();
    platform.changeScreenParameters();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(submissionsFor(FakeSampleBuffer::withStatus(0)), 1u);
    }
    EXPECT_EQ(platform.layer().enqueued.size(), 1u);
    EXPECT_EQ(states(), (Strings{"starting", "live", "error"}));
}

// The frames queue on a thread of its own, racing the main loop until the
// main thread has shown many pictures: the gate must keep at most one picture
// on its way, never lose its reopening, and report "live" once. Run under
// ThreadSanitizer as well.
TEST_F(FramePipelineTest, ARealFramesThreadFeedsTheGateWhileTheMainLoopRuns) {
    launch();
    platform.resetMainBacklog();
    constexpr std::size_t picturesWanted = 200;
    // A bound on wall time, not on frames: a loaded machine (or a sanitizer)
    // may starve the main thread for a long while.
    const auto giveUpAt = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::atomic<std::size_t> picturesShown{0};
    std::atomic<int> framesFed{0};
    std::atomic<bool> feeding{true};
    std::thread framesThread([&] {
        ScriptedStream& stream = platform.stream();
        for (int i = 0; picturesShown < picturesWanted && std::chrono::steady_clock::now() < giveUpAt; ++i) {
            stream.emit(FakeSampleBuffer::withStatus(i % 5 == 4 ? 1 : 0));
            platform.framesQueue().drain();
            ++framesFed;
        }
        feeding = false;
    });
    while (feeding) {
        platform.runUntilIdle();
        picturesShown = platform.layer().enqueued.size();
    }
    framesThread.join();
    platform.runUntilIdle();

    const std::size_t shown = platform.layer().enqueued.size();
    EXPECT_GE(shown, picturesWanted);
    EXPECT_LE(shown, static_cast<std::size_t>(framesFed));
    EXPECT_EQ(platform.maxMainBacklog(), 1u);
    EXPECT_THAT(platform.layer().markedWhenEnqueued, Each(true));
    EXPECT_EQ(states(), (Strings{"starting", "live"}));

    deliver(FakeSampleBuffer::withStatus(0));
    EXPECT_EQ(platform.layer().enqueued.size(), shown + 1);
}

}  // namespace
}  // namespace velto::shareview::testing
