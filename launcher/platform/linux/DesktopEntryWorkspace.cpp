#include "DesktopEntryWorkspace.h"

#include <glib.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

namespace velto::launcher {

namespace {

constexpr std::string_view desktopSuffix = ".desktop";

struct GLibDeleter {
    void operator()(GKeyFile* keyFile) const { g_key_file_free(keyFile); }
    void operator()(GError* error) const { g_error_free(error); }
    void operator()(gchar* text) const { g_free(text); }
    void operator()(gchar** list) const { g_strfreev(list); }
};
using KeyFile = std::unique_ptr<GKeyFile, GLibDeleter>;
using Error = std::unique_ptr<GError, GLibDeleter>;
using Text = std::unique_ptr<gchar, GLibDeleter>;
using TextList = std::unique_ptr<gchar*, GLibDeleter>;

std::string quoted(const std::string& path) { return "\u201c" + path + "\u201d"; }

KeyFile loadDesktopEntry(const std::string& path, std::string* error) {
    KeyFile keyFile(g_key_file_new());
    GError* rawError = nullptr;
    if (!g_key_file_load_from_file(keyFile.get(), path.c_str(), G_KEY_FILE_NONE, &rawError)) {
        const Error loadError(rawError);
        if (error) *error = "The desktop entry " + quoted(path) + " could not be read: " + loadError->message + ".";
        return nullptr;
    }
    if (!g_key_file_has_group(keyFile.get(), G_KEY_FILE_DESKTOP_GROUP)) {
        if (error) *error = "The file " + quoted(path) + " is not a desktop entry.";
        return nullptr;
    }
    return keyFile;
}

std::string desktopString(GKeyFile* keyFile, const char* key) {
    const Text value(g_key_file_get_string(keyFile, G_KEY_FILE_DESKTOP_GROUP, key, nullptr));
    return value ? value.get() : "";
}

// What the install location must hold to be used: an application the user
// has not deleted. Anything else leaves the choice to the XDG lookup.
bool isUsableApplication(GKeyFile* keyFile) {
    return desktopString(keyFile, G_KEY_FILE_DESKTOP_KEY_TYPE) == G_KEY_FILE_DESKTOP_TYPE_APPLICATION &&
           !g_key_file_get_boolean(keyFile, G_KEY_FILE_DESKTOP_GROUP, G_KEY_FILE_DESKTOP_KEY_HIDDEN, nullptr);
}

// This process's environment with `changes` set.
TextList environmentWith(const std::map<std::string, std::string>& changes) {
    gchar** environment = g_get_environ();
    for (const auto& [name, value] : changes) environment = g_environ_setenv(environment, name.c_str(), value.c_str(), TRUE);
    return TextList(environment);
}

// Runs in the new process before it executes the program: it must not end
// with this agent's session, and it must not inherit the agent's ignored
// SIGPIPE (an ignored signal stays ignored across exec). GLib's forked child
// happens to reset SIGPIPE as well; GLib does not promise it.
void prepareChild(gpointer) {
    setsid();
    signal(SIGPIPE, SIG_DFL);
}

std::optional<std::string> spawnDetached(const std::vector<std::string>& command, const std::string& workingDirectory,
                                         const std::map<std::string, std::string>& environment) {
    std::vector<gchar*> argv;
    for (const auto& argument : command) argv.push_back(const_cast<gchar*>(argument.c_str()));
    argv.push_back(nullptr);
    const TextList envp = environmentWith(environment);
    GError* rawError = nullptr;
    // Without a pid to return and without G_SPAWN_DO_NOT_REAP_CHILD, GLib
    // starts the program through an intermediate process: it never becomes
    // our child, and an exec failure still comes back as an error.
    if (g_spawn_async(workingDirectory.empty() ? nullptr : workingDirectory.c_str(), argv.data(), envp.get(),
                      G_SPAWN_SEARCH_PATH, prepareChild, nullptr, nullptr, &rawError)) {
        return std::nullopt;
    }
    const Error spawnError(rawError);
    return std::string(spawnError->message) + ".";
}

}  // namespace

std::optional<std::string> desktopEntryIdentifier(const std::string& path) {
    const std::string fileName = std::filesystem::path(path).filename().string();
    if (fileName.size() <= desktopSuffix.size() || !fileName.ends_with(desktopSuffix)) return std::nullopt;
    const KeyFile keyFile = loadDesktopEntry(path, nullptr);
    if (!keyFile || !isUsableApplication(keyFile.get())) return std::nullopt;
    return fileName.substr(0, fileName.size() - desktopSuffix.size());
}

std::optional<std::string> findDesktopEntry(const std::string& identifier) {
    std::vector<std::string> dataDirectories{g_get_user_data_dir()};
    for (const gchar* const* directory = g_get_system_data_dirs(); *directory; ++directory) {
        dataDirectories.emplace_back(*directory);
    }
    const std::string fileName = identifier + std::string(desktopSuffix);
    for (const auto& dataDirectory : dataDirectories) {
        const auto path = (std::filesystem::path(dataDirectory) / "applications" / fileName).string();
        if (!g_file_test(path.c_str(), G_FILE_TEST_IS_REGULAR)) continue;
        // A hidden entry deletes the application for this user, whatever the
        // directories further down hold.
        const KeyFile keyFile = loadDesktopEntry(path, nullptr);
        if (keyFile &&
            g_key_file_get_boolean(keyFile.get(), G_KEY_FILE_DESKTOP_GROUP, G_KEY_FILE_DESKTOP_KEY_HIDDEN, nullptr)) {
            return std::nullopt;
        }
        return path;
    }
    return std::nullopt;
}

std::optional<std::string> launchDesktopEntry(const std::string& path, const std::vector<std::string>& extraArguments,
                                              const std::map<std::string, std::string>& environment) {
    std::string error;
    const KeyFile keyFile = loadDesktopEntry(path, &error);
    if (!keyFile) return error;
    const DesktopEntryCommand command = desktopEntryCommand(keyFile.get(), path, extraArguments);
    if (command.arguments.empty()) return command.error;
    return spawnDetached(command.arguments, desktopString(keyFile.get(), G_KEY_FILE_DESKTOP_KEY_PATH), environment);
}

}  // namespace velto::launcher
