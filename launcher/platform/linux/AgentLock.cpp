#include "AgentLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

namespace velto::launcher {

namespace {

std::string displayWithoutScreen(const std::string& displayName) {
    const auto colon = displayName.rfind(':');
    const auto dot = displayName.find('.', colon == std::string::npos ? 0 : colon);
    return colon != std::string::npos && dot != std::string::npos ? displayName.substr(0, dot) : displayName;
}

}  // namespace

std::string agentLockFileName(const std::string& identifier, const std::string& displayName) {
    std::string display = displayWithoutScreen(displayName);
    for (char& c : display) {
        if (c == '/') c = '_';
    }
    return identifier + "-" + display + ".lock";
}

AgentLockResult lockAgent(const std::string& identifier, const std::string& displayName) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::filesystem::path path;
    if (runtime && std::filesystem::path(runtime).is_absolute()) {
        path = std::filesystem::path(runtime) / agentLockFileName(identifier, displayName);
    } else {
        path = std::filesystem::path("/tmp") /
               agentLockFileName(identifier + "-" + std::to_string(::getuid()), displayName);
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return AgentLockResult::unavailable;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return AgentLockResult::acquired;  // fd stays open: the lock
    const bool held = errno == EWOULDBLOCK;
    ::close(fd);
    return held ? AgentLockResult::heldElsewhere : AgentLockResult::unavailable;
}

}  // namespace velto::launcher
