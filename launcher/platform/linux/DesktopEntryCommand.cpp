#include "DesktopEntryCommand.h"

#include <glib.h>

#include <memory>

namespace velto::launcher {

namespace {

struct GLibDeleter {
    void operator()(GError* error) const { g_error_free(error); }
    void operator()(gchar* text) const { g_free(text); }
    void operator()(gchar** strings) const { g_strfreev(strings); }
};
using Error = std::unique_ptr<GError, GLibDeleter>;
using Text = std::unique_ptr<gchar, GLibDeleter>;
using TextList = std::unique_ptr<gchar*, GLibDeleter>;

std::string quoted(const std::string& path) { return "\u201c" + path + "\u201d"; }

std::string desktopString(GKeyFile* entry, const char* key) {
    const Text value(g_key_file_get_string(entry, G_KEY_FILE_DESKTOP_GROUP, key, nullptr));
    return value ? value.get() : "";
}

std::string translatedName(GKeyFile* entry) {
    const Text value(g_key_file_get_locale_string(entry, G_KEY_FILE_DESKTOP_GROUP, G_KEY_FILE_DESKTOP_KEY_NAME,
                                                  nullptr, nullptr));
    return value ? value.get() : "";
}

// Bytes of the character that starts at `i`: a code letter may be any
// character, and removing only its first byte would leave a broken one.
std::size_t characterLength(const std::string& text, std::size_t i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t expected = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    std::size_t length = 1;
    while (length < expected && i + length < text.size() &&
           (static_cast<unsigned char>(text[i + length]) & 0xC0) == 0x80) {
        ++length;
    }
    return length;
}

DesktopEntryCommand noCommand(const std::string& path, const std::string& reason = "") {
    return {{}, "The desktop entry " + quoted(path) + " has no command that can be run" + reason + "."};
}

}  // namespace

std::vector<std::string> expandFieldCodes(const std::vector<std::string>& arguments, const FieldCodeValues& values) {
    std::vector<std::string> expanded;
    for (const auto& argument : arguments) {
        if (argument == "%i") {
            if (!values.icon.empty()) expanded.insert(expanded.end(), {"--icon", values.icon});
            continue;
        }
        std::string result;
        bool removedCode = false;
        for (std::size_t i = 0; i < argument.size(); ++i) {
            if (argument[i] != '%' || i + 1 == argument.size()) {
                result += argument[i];
                continue;
            }
            switch (argument[++i]) {
            case '%': result += '%'; break;
            case 'c': result += values.name; break;
            case 'k': result += values.location; break;
            default:  // files, URLs, deprecated or unknown codes: nothing to pass
                removedCode = true;
                i += characterLength(argument, i) - 1;
                break;
            }
        }
        if (!result.empty() || !removedCode) expanded.push_back(std::move(result));
    }
    return expanded;
}

DesktopEntryCommand desktopEntryCommand(GKeyFile* entry, const std::string& path,
                                        const std::vector<std::string>& extraArguments) {
    if (desktopString(entry, G_KEY_FILE_DESKTOP_KEY_TYPE) != G_KEY_FILE_DESKTOP_TYPE_APPLICATION) {
        return {{}, "The desktop entry " + quoted(path) + " does not describe an application."};
    }
    const std::string exec = desktopString(entry, G_KEY_FILE_DESKTOP_KEY_EXEC);
    if (exec.empty()) return noCommand(path);
    gchar** rawArguments = nullptr;
    GError* rawError = nullptr;
    if (!g_shell_parse_argv(exec.c_str(), nullptr, &rawArguments, &rawError)) {
        const Error parseError(rawError);
        return noCommand(path, std::string(": ") + parseError->message);
    }
    const TextList parsed(rawArguments);
    std::vector<std::string> execArguments;
    for (gchar** argument = parsed.get(); *argument; ++argument) execArguments.emplace_back(*argument);
    DesktopEntryCommand command{
        expandFieldCodes(execArguments, {desktopString(entry, G_KEY_FILE_DESKTOP_KEY_ICON), translatedName(entry), path}),
        {}};
    // An empty program name ("" or a %c without a Name) would reach the
    // process start and come back as its error, not ours.
    if (command.arguments.empty() || command.arguments.front().empty()) return noCommand(path);
    command.arguments.insert(command.arguments.end(), extraArguments.begin(), extraArguments.end());
    return command;
}

}  // namespace velto::launcher
