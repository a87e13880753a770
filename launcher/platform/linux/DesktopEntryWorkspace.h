#pragma once
// Applications as the Linux desktop knows them: an application is a desktop
// entry, its identifier is the desktop-file ID without ".desktop", and the
// registry is the XDG data directories (data home first, then data dirs).
// GLib reads the entries; GIO's own application lookup is not used because it
// hides every entry whose program is missing, which would turn a broken
// installation into "not installed".

#include "DesktopEntryCommand.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace velto::launcher {

// The identifier of the desktop entry at `path`, or nothing when no readable
// entry of an application is there, or the entry is marked Hidden (deleted).
std::optional<std::string> desktopEntryIdentifier(const std::string& path);

// The entry with that identifier that the XDG lookup finds first; nothing when
// there is none or the first one found is marked Hidden (deleted by the user).
std::optional<std::string> findDesktopEntry(const std::string& identifier);

// Runs the entry's command with `extraArguments` appended as a new process in
// a session of its own, not a child of this one, with `environment` added to
// this process's environment; returns once the program has been executed.
// The error is a readable sentence.
std::optional<std::string> launchDesktopEntry(const std::string& path, const std::vector<std::string>& extraArguments,
                                              const std::map<std::string, std::string>& environment = {});

}  // namespace velto::launcher
