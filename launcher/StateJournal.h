#pragma once
// The launcher's trace of what it last did: one small JSON record that every
// new phase replaces whole. Nothing reads it back; it is there to be inspected.

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace velto::launcher {

inline constexpr const char* stateFileName = "launcher-state.json";

// Replaces <directory>/launcher-state.json atomically with the record of `phase`
// stamped with the current wall-clock time; never creates the directory, drops every error, never throws.
void recordPhase(const std::optional<std::filesystem::path>& directory, std::string_view phase);

// Removes the temporary files that a write cut short by the end of its
// process left in `directory`; only names of this journal's own pattern whose
// writer is no longer running, so a write in progress elsewhere is untouched.
void removeStaleTemporaryFiles(const std::optional<std::filesystem::path>& directory);

// The pretty-printed four-member record ("phase", "at", "shortcut": "hold right Option", "holdSeconds": 0.45 as a JSON number).
// Empty when the phase is not valid UTF-8: such a record cannot be JSON.
std::string stateRecord(std::string_view phase, std::chrono::system_clock::time_point now);

// RFC 3339 UTC with whole seconds and "Z", e.g. 2026-12-09T05:27:40Z.
std::string internetDateTime(std::chrono::system_clock::time_point now);

}  // namespace velto::launcher
