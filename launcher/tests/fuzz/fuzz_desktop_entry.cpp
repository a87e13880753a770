// A desktop entry's text, read the way the launcher reads the main
// application's entry, and the command it yields with "--start-listening":
// a non-empty program or the readable "no command" sentence, every argument
// valid UTF-8, no field code left, the extra argument last.

#include "DesktopEntryCommand.h"

#include <glib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace velto::launcher;

constexpr const char* entryPath = "/usr/share/applications/com.velto.Velto.desktop";
const std::string quotedPath = std::string("\u201c") + entryPath + "\u201d";

void require(bool holds, const char* property) {
    if (holds) return;
    std::fprintf(stderr, "desktop entry property violated: %s\n", property);
    std::abort();
}

bool validUtf8(const std::string& text) { return g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr); }

std::string entryText(GKeyFile* entry, const char* key, bool translated) {
    gchar* value = translated ? g_key_file_get_locale_string(entry, G_KEY_FILE_DESKTOP_GROUP, key, nullptr, nullptr)
                              : g_key_file_get_string(entry, G_KEY_FILE_DESKTOP_GROUP, key, nullptr);
    std::string text = value ? value : "";
    g_free(value);
    return text;
}

// A "%" that is not an argument's last character comes from a field code,
// unless the command holds "%%" or the texts that codes expand to hold "%":
// only then may one stay.
bool percentCanOnlyComeFromACode(GKeyFile* entry) {
    if (entryText(entry, G_KEY_FILE_DESKTOP_KEY_NAME, true).find('%') != std::string::npos) return false;
    if (entryText(entry, G_KEY_FILE_DESKTOP_KEY_ICON, false).find('%') != std::string::npos) return false;
    gchar** arguments = nullptr;
    if (!g_shell_parse_argv(entryText(entry, G_KEY_FILE_DESKTOP_KEY_EXEC, false).c_str(), nullptr, &arguments,
                            nullptr)) {
        return true;
    }
    bool literalPercent = false;
    for (gchar** argument = arguments; *argument; ++argument) {
        literalPercent = literalPercent || std::string(*argument).find("%%") != std::string::npos;
    }
    g_strfreev(arguments);
    return !literalPercent;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::unique_ptr<GKeyFile, decltype(&g_key_file_free)> entry(g_key_file_new(), g_key_file_free);
    if (!g_key_file_load_from_data(entry.get(), reinterpret_cast<const gchar*>(data), size, G_KEY_FILE_NONE,
                                   nullptr) ||
        !g_key_file_has_group(entry.get(), G_KEY_FILE_DESKTOP_GROUP)) {
        return 0;  // not a desktop entry: the launcher reports it before asking for a command
    }

    const auto command = desktopEntryCommand(entry.get(), entryPath, {"--start-listening"});

    if (command.arguments.empty()) {
        require(command.error == "The desktop entry " + quotedPath + " does not describe an application." ||
                    command.error.starts_with("The desktop entry " + quotedPath + " has no command that can be run"),
                "no command comes with the readable sentence");
        require(command.error.back() == '.' && validUtf8(command.error), "the sentence is whole");
        return 0;
    }
    require(command.error.empty(), "a command comes without an error");
    require(!command.arguments.front().empty(), "a non-empty program");
    require(command.arguments.size() >= 2 && command.arguments.back() == "--start-listening",
            "--start-listening last");
    const bool strict = percentCanOnlyComeFromACode(entry.get());
    for (const auto& argument : command.arguments) {
        require(validUtf8(argument), "every argument is valid UTF-8");
        const auto percent = argument.find('%');
        require(!strict || percent == std::string::npos || percent + 1 == argument.size(), "no field code left");
    }
    return 0;
}
