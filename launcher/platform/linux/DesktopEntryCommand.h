#pragma once
// The command a desktop entry runs, read from an entry GLib has already
// parsed: no file access and no process start, so it can be checked alone.

#include <string>
#include <vector>

// GLib's parsed key file, as glib.h declares it.
typedef struct _GKeyFile GKeyFile;

namespace velto::launcher {

// What an Exec field code stands for when an entry is launched without files
// or URLs.
struct FieldCodeValues {
    std::string icon;      // %i, as "--icon" and the icon when there is one
    std::string name;      // %c, the entry's translated name
    std::string location;  // %k, the entry's path
};

// The Exec command's arguments after field-code expansion: %%, %c, %k and a
// lone %i are expanded, every other code (the whole character after "%") is
// removed, and an argument that held nothing but removed codes is dropped.
std::vector<std::string> expandFieldCodes(const std::vector<std::string>& arguments, const FieldCodeValues& values);

struct DesktopEntryCommand {
    std::vector<std::string> arguments;  // a non-empty program first; empty when there is no command
    std::string error;                   // why there is none, as a readable sentence
};

// The program and arguments of the application entry `entry`, read from
// `path`, with `extraArguments` appended.
DesktopEntryCommand desktopEntryCommand(GKeyFile* entry, const std::string& path,
                                        const std::vector<std::string>& extraArguments);

}  // namespace velto::launcher
