// Preloaded into the launcher by scripts/bench-launcher.sh: counts every heap
// allocation of the process and, on SIGUSR1, appends the count so far as one
// line to $VELTO_ALLOCATION_REPORT. Two reports around an idle stretch give
// the allocations of the polls in between.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
}

namespace {

std::atomic<std::uint64_t> allocations{0};

void count() { allocations.fetch_add(1, std::memory_order_relaxed); }

// Async-signal-safe: no allocation, no stdio.
void report(int) {
    const char* path = std::getenv("VELTO_ALLOCATION_REPORT");
    if (!path) return;
    char line[32];
    char* end = line + sizeof line;
    char* cursor = end;
    *--cursor = '\n';
    std::uint64_t value = allocations.load(std::memory_order_relaxed);
    do {
        *--cursor = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    const int savedErrno = errno;
    const int file = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (file >= 0) {
        [[maybe_unused]] const ssize_t written = ::write(file, cursor, static_cast<size_t>(end - cursor));
        ::close(file);
    }
    errno = savedErrno;
}

__attribute__((constructor)) void installReportHandler() {
    struct sigaction action {};
    action.sa_handler = report;
    action.sa_flags = SA_RESTART;
    sigaction(SIGUSR1, &action, nullptr);
}

}  // namespace

extern "C" {

void* malloc(size_t size) {
    count();
    return __libc_malloc(size);
}

void* calloc(size_t number, size_t size) {
    count();
    return __libc_calloc(number, size);
}

void* realloc(void* pointer, size_t size) {
    count();
    return __libc_realloc(pointer, size);
}

void* memalign(size_t alignment, size_t size) {
    count();
    return __libc_memalign(alignment, size);
}

void* aligned_alloc(size_t alignment, size_t size) {
    count();
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** result, size_t alignment, size_t size) {
    count();
    void* pointer = __libc_memalign(alignment, size);
    if (!pointer) return ENOMEM;
    *result = pointer;
    return 0;
}

}  // extern "C"
