#include "AgentLock.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

namespace velto::launcher {
namespace {

TEST(AgentLock, OneFilePerDisplayWhateverTheScreen) {
    const struct {
        const char* display;
        const char* fileName;
    } cases[] = {
        {":0", "id-:0.lock"},
        {":0.0", "id-:0.lock"},
        {":0.1", "id-:0.lock"},
        {"host.example:10.0", "id-host.example:10.lock"},
        {"/tmp/launch-x/org.xquartz:0", "id-_tmp_launch-x_org.xquartz:0.lock"},
        {"", "id-.lock"},
    };
    for (const auto& c : cases) EXPECT_EQ(agentLockFileName("id", c.display), c.fileName) << c.display;
}

TEST(AgentLock, SecondAgentOfTheSameDisplayFindsTheLockTaken) {
    char pattern[] = "/tmp/velto-agent-lock-XXXXXX";
    const std::filesystem::path runtime = mkdtemp(pattern);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    // flock belongs to the open file, so a second open in this process
    // stands for a second agent.
    EXPECT_EQ(lockAgent("org.example.test", ":5.0"), AgentLockResult::acquired);
    EXPECT_EQ(lockAgent("org.example.test", ":5.1"), AgentLockResult::heldElsewhere);
    EXPECT_EQ(lockAgent("org.example.test", ":6"), AgentLockResult::acquired);
    EXPECT_TRUE(std::filesystem::exists(runtime / "org.example.test-:5.lock"));

    setenv("XDG_RUNTIME_DIR", "relative/run", 1);  // not usable: /tmp, with the user id
    EXPECT_EQ(lockAgent("org.example.test", ":5"), AgentLockResult::acquired);
    const auto inTmp = std::filesystem::path("/tmp") / ("org.example.test-" + std::to_string(getuid()) + "-:5.lock");
    EXPECT_TRUE(std::filesystem::exists(inTmp));
    std::filesystem::remove(inTmp);
    unsetenv("XDG_RUNTIME_DIR");
    std::filesystem::remove_all(runtime);
}

}  // namespace
}  // namespace velto::launcher
