#pragma once
// The share view program's entry: answers "--check", refuses a bad command
// line, and otherwise hands the process to the share view.

#include "SharePlatform.h"

#include <cstdint>
#include <string>
#include <vector>

namespace velto::shareview {

// `arguments` is the whole argument vector, element 0 the program path.
// Returns the exit status.
int shareViewMain(const std::vector<std::string>& arguments, SharePlatform& platform);

// Runs the share view for one display until it ends; returns the exit status.
int runShareView(SharePlatform& platform, std::int32_t parentPID, std::uint32_t displayID);

}  // namespace velto::shareview
