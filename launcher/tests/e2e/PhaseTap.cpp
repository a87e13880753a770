// Preloaded into the launcher by the end-to-end tests. The state file keeps
// only its latest record and is replaced by rename, so phases written in one
// poll ("hold-accepted", "opening-velto") cannot be seen by watching it; this
// appends every record to $VELTO_PHASE_TAP just before it is renamed into
// place, each followed by a record-separator character.

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

bool isStateFile(const char* path) {
    const char* name = std::strrchr(path, '/');
    return std::strcmp(name ? name + 1 : path, "launcher-state.json") == 0;
}

// A record is a few hundred bytes: one read, one appending write.
void appendRecord(const char* recordPath, const char* tapPath) {
    const int record = ::open(recordPath, O_RDONLY | O_CLOEXEC);
    if (record < 0) return;
    char buffer[4096];
    ssize_t length = ::read(record, buffer, sizeof buffer - 1);
    ::close(record);
    if (length < 0) return;
    buffer[length++] = '\x1e';
    const int tap = ::open(tapPath, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (tap < 0) return;
    [[maybe_unused]] const ssize_t written = ::write(tap, buffer, static_cast<size_t>(length));
    ::close(tap);
}

}  // namespace

extern "C" int rename(const char* from, const char* to) {
    using Rename = int (*)(const char*, const char*);
    static const auto realRename = reinterpret_cast<Rename>(dlsym(RTLD_NEXT, "rename"));
    if (const char* tapPath = std::getenv("VELTO_PHASE_TAP"); tapPath && to && isStateFile(to)) {
        appendRecord(from, tapPath);
    }
    return realRename(from, to);
}
