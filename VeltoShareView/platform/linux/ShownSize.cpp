#include "ShownSize.h"

#include <sys/eventfd.h>
#include <unistd.h>

namespace velto::x11 {

ShownSize::ShownSize() : wake_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

ShownSize::~ShownSize() {
    if (wake_ >= 0) close(wake_);
}

void ShownSize::set(PixelSize size) {
    const std::uint64_t packed = std::uint64_t(std::uint32_t(size.width)) << 32 | std::uint32_t(size.height);
    if (packed_.exchange(packed) == packed || wake_ < 0) return;
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = write(wake_, &one, sizeof one);
}

PixelSize ShownSize::get() const {
    const std::uint64_t packed = packed_.load();
    return {int(packed >> 32), int(packed & 0xffffffffU)};
}

void ShownSize::drain() const {
    std::uint64_t count = 0;
    [[maybe_unused]] const auto read = ::read(wake_, &count, sizeof count);
}

}  // namespace velto::x11
