#pragma once
// Where the launcher's state file lives on Linux: the XDG state directory.
// Pure, so it can be checked without a desktop session.

#include <filesystem>
#include <optional>
#include <string_view>

namespace velto::launcher {

inline constexpr std::string_view stateDirectoryName = "VeltoLauncher";

// `xdgStateHome` is $XDG_STATE_HOME as set (empty when unset); `home` is the
// user's home directory (empty when unknown). A relative $XDG_STATE_HOME is
// invalid and ignored, as the XDG base directory rules say.
inline std::optional<std::filesystem::path> xdgStateDirectory(std::string_view xdgStateHome,
                                                              std::string_view home) {
    const std::filesystem::path stateHome(xdgStateHome);
    if (stateHome.is_absolute()) return stateHome / stateDirectoryName;
    const std::filesystem::path homeDirectory(home);
    if (!homeDirectory.is_absolute()) return std::nullopt;
    return homeDirectory / ".local" / "state" / stateDirectoryName;
}

}  // namespace velto::launcher
