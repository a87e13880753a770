#include "Sampler.h"

#include <X11/Xutil.h>

#include <algorithm>
#include <iostream>

namespace probe {

using Clock = std::chrono::steady_clock;

bool isPrivatePixel(QRgb pixel) {
    return std::min(qRed(pixel), qBlue(pixel)) - qGreen(pixel) >= privateExcess;
}

double Mirror::scale() const {
    return std::min(double(picture.width()) / monitor.width, double(picture.height()) / monitor.height);
}

QPointF Mirror::toPicture(double x, double y) const {
    const double s = scale();
    const double left = (picture.width() - monitor.width * s) / 2;
    const double top = (picture.height() - monitor.height * s) / 2;
    return {left + (x - monitor.x) * s, top + (y - monitor.y) * s};
}

QPointF Mirror::toScreen(double x, double y) const {
    const double s = scale();
    const double left = (picture.width() - monitor.width * s) / 2;
    const double top = (picture.height() - monitor.height * s) / 2;
    return {monitor.x + (x - left) / s, monitor.y + (y - top) / s};
}

QImage grabPicture(::Display* display, Window window) {
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display, window, &attributes) || attributes.map_state != IsViewable) return {};
    XImage* image = XGetImage(display, window, 0, 0, unsigned(attributes.width), unsigned(attributes.height),
                              AllPlanes, ZPixmap);
    if (!image) return {};
    QImage result(attributes.width, attributes.height, QImage::Format_RGB32);
    const bool direct = image->bits_per_pixel == 32 && image->byte_order == LSBFirst &&
                        image->red_mask == 0xff0000 && image->blue_mask == 0xff;
    for (int y = 0; y < attributes.height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(result.scanLine(y));
        const auto* source = reinterpret_cast<const std::uint32_t*>(image->data + y * image->bytes_per_line);
        for (int x = 0; x < attributes.width; ++x)
            line[x] = 0xff000000u | ((direct ? source[x] : XGetPixel(image, x, y)) & 0xffffffu);
    }
    XDestroyImage(image);
    return result;
}

Sampler::Sampler(Window shareWindow, standin::Area monitor, std::string leakPicturePrefix)
    : shareWindow_(shareWindow), monitor_(monitor), leakPicturePrefix_(std::move(leakPicturePrefix)) {}

Sampler::~Sampler() { stop(); }

void Sampler::start() {
    running_ = true;
    started_ = Clock::now();
    thread_ = std::thread([this] { run(); });
}

void Sampler::stop() {
    running_ = false;
    if (thread_.joinable()) thread_.join();
}

void Sampler::open(const std::string& region, const standin::Area& screenArea) {
    std::lock_guard lock(mutex_);
    regions_[region] = Open{screenArea, Clock::now(), {}, false};
}

void Sampler::close(const std::string& region) {
    std::lock_guard lock(mutex_);
    const auto found = regions_.find(region);
    if (found != regions_.end()) found->second.closed = true;
}

std::map<std::string, RegionCount> Sampler::counts() const {
    std::lock_guard lock(mutex_);
    std::map<std::string, RegionCount> result;
    for (const auto& [name, region] : regions_) result[name] = region.count;
    return result;
}

RegionCount Sampler::unattributed() const {
    std::lock_guard lock(mutex_);
    return unattributed_;
}

void Sampler::run() {
    ::Display* display = XOpenDisplay(nullptr);
    if (!display) return;
    // A picture every 35 ms: several per frame the share view may show.
    const auto period = std::chrono::milliseconds(35);
    auto next = Clock::now();
    while (running_) {
        const QImage picture = grabPicture(display, shareWindow_);
        if (!picture.isNull()) {
            examine(picture);
            ++samples_;
        }
        next += period;
        const auto now = Clock::now();
        if (next < now) next = now;
        std::this_thread::sleep_until(next);
    }
    XCloseDisplay(display);
}

void Sampler::examine(const QImage& picture) {
    const Mirror mirror{monitor_, picture.size()};
    std::lock_guard lock(mutex_);
    std::map<std::string, long> pixels;
    long stray = 0;
    // Scaling spreads a screen pixel over its neighbours: a little slack.
    const double slack = 3 / mirror.scale();
    for (int y = 0; y < picture.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(picture.constScanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            if (!isPrivatePixel(line[x])) continue;
            const QPointF at = mirror.toScreen(x + 0.5, y + 0.5);
            bool charged = false;
            for (const auto& [name, region] : regions_) {
                if (region.closed) continue;
                const auto& a = region.area;
                if (at.x() >= a.x - slack && at.x() < a.x + a.width + slack && at.y() >= a.y - slack &&
                    at.y() < a.y + a.height + slack) {
                    ++pixels[name];
                    charged = true;
                }
            }
            if (!charged) ++stray;
        }
    }
    const auto now = Clock::now();
    const auto tally = [&](RegionCount& count, long found, Clock::time_point since, bool& saved,
                           const std::string& name) {
        ++count.samples;
        if (found == 0) return;
        ++count.leakingSamples;
        count.mostPixels = std::max(count.mostPixels, found);
        if (count.firstLeak < 0) count.firstLeak = std::chrono::duration<double>(now - since).count();
        if (!saved && !leakPicturePrefix_.empty()) {
            saved = picture.save(QString::fromStdString(leakPicturePrefix_ + "-leak-" + name + ".png"), "PNG");
        }
    };
    for (auto& [name, region] : regions_)
        if (!region.closed) tally(region.count, pixels[name], region.since, region.pictureSaved, name);
    tally(unattributed_, stray, started_, unattributedSaved_, "elsewhere");
}

}  // namespace probe
