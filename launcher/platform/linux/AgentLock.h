#pragma once
// One agent per user and display: an autostart entry and a manual start, or
// the session script run twice, must not give two agents that each open the
// main application on every gesture.

#include <string>

namespace velto::launcher {

enum class AgentLockResult {
    acquired,       // this is the one agent; the lock is held until the process ends
    heldElsewhere,  // another agent runs for this user and display
    unavailable,    // no lock file could be made; the agent runs unguarded
};

// Takes an exclusive lock on a file named after `identifier` and the display
// in $XDG_RUNTIME_DIR (in /tmp, with the user id in the name, when that is
// not set). The descriptor is closed on exec, so programs started later do
// not hold the lock.
AgentLockResult lockAgent(const std::string& identifier, const std::string& displayName);

// The file's name for a display name such as ":0.0" or "host:1": the screen
// number is dropped (one agent serves every screen of a display).
std::string agentLockFileName(const std::string& identifier, const std::string& displayName);

}  // namespace velto::launcher
