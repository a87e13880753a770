#include "UntrustedPixels.h"

#include "PixmapTrust.h"
#include "XConnection.h"

#include <algorithm>

namespace velto::x11 {
namespace {

Box insideOf(int x, int y, int width, int height, int border) { return {x + border, y + border, width, height}; }

Box intersection(const Box& a, const Box& b) {
    const int left = std::max(a.x, b.x), top = std::max(a.y, b.y);
    const int right = std::min(a.x + a.width, b.x + b.width), bottom = std::min(a.y + a.height, b.y + b.height);
    return {left, top, right - left, bottom - top};
}

Box unionOf(const Box& a, const Box& b) {
    const int left = std::min(a.x, b.x), top = std::min(a.y, b.y);
    const int right = std::max(a.x + a.width, b.x + b.width), bottom = std::max(a.y + a.height, b.y + b.height);
    return {left, top, right - left, bottom - top};
}

Box boundsOf(Region region) {
    XRectangle box{};
    XClipBox(region, &box);
    return {box.x, box.y, box.width, box.height};
}

void addBox(Region region, const Box& box) {
    if (box.empty()) return;
    XRectangle rectangle = rectangleOf(box);
    XUnionRectWithRegion(&rectangle, region, region);
}

}  // namespace

UntrustedPixels::UntrustedPixels(::Display* display) : display_(display), queries_(display) {}

UntrustedPixels::~UntrustedPixels() {
    for (auto& [window, watched] : watched_)
        if (watched.untrusted != nullptr) XDestroyRegion(watched.untrusted);
}

UntrustedPixels::Watched* UntrustedPixels::find(Window window) {
    const auto found = watched_.find(window);
    return found != watched_.end() ? &found->second : nullptr;
}

void UntrustedPixels::watch(Window window, const Box& inside, bool mapped) {
    Watched& watched = watched_[window];
    // An input-only window holds nothing to watch (refused, harmlessly).
    if (watched.damage == None) watched.damage = XDamageCreate(display_, window, XDamageReportRawRectangles);
    watched.inside = inside;
    watched.mapped = mapped;
    if (watched.untrusted == nullptr) watched.untrusted = XCreateRegion();
}

void UntrustedPixels::start(const std::vector<Window>& children) {
    const auto reports = queries_.describe(children);
    for (std::size_t i = 0; i < children.size(); ++i) {
        if (!reports[i]) continue;  // gone: its DestroyNotify follows
        const WindowReport& report = *reports[i];
        watch(children[i], insideOf(report.x, report.y, report.width, report.height, report.border),
              report.viewable);
    }
    for (std::size_t i = 0; i < children.size(); ++i)
        if (Watched* watched = find(children[i]); watched != nullptr && watched->mapped) {
            const Box whole{0, 0, watched->inside.width, watched->inside.height};
            addUntrusted(*watched, whole);
            askRepaint(*watched, whole);
        }
}

void UntrustedPixels::created(const XCreateWindowEvent& event) {
    watch(event.window, insideOf(event.x, event.y, event.width, event.height, event.border_width), false);
}

void UntrustedPixels::reparented(const XReparentEvent& event, Window root) {
    if (event.parent != root) {
        if (Watched* watched = find(event.window)) {
            XDamageDestroy(display_, watched->damage);
            watched->damage = None;
            destroyed(event.window);
        }
        return;
    }
    // A mapped window is unmapped before it moves and mapped again after.
    const auto report = queries_.describe({event.window}).front();
    if (report) watch(event.window, insideOf(report->x, report->y, report->width, report->height, report->border), false);
}

void UntrustedPixels::mapped(Window window) {
    Watched* watched = find(window);
    if (watched == nullptr) return;
    watched->mapped = true;
    const Box whole{0, 0, watched->inside.width, watched->inside.height};
    addUntrusted(*watched, whole);
    askRepaint(*watched, whole);
}

bool UntrustedPixels::configured(const XConfigureEvent& event) {
    Watched* watched = find(event.window);
    if (watched == nullptr) return false;
    const Box before = watched->inside;
    watched->inside = insideOf(event.x, event.y, event.width, event.height, event.border_width);
    const bool resized = before.width != event.width || before.height != event.height;
    if (!watched->mapped || !resized) return false;
    const auto report = queries_.describe({event.window}).front();
    const KeptContent content = keptAfterResize(before, watched->inside, report ? report->bitGravity : 0);
    // The old pixels move with the content the server keeps; the rest of
    // the new pixmap is the screen's copy.
    XOffsetRegion(watched->untrusted, content.dx, content.dy);
    const Region kept = XCreateRegion();
    addBox(kept, content.kept);
    XIntersectRegion(watched->untrusted, kept, watched->untrusted);
    const Region fresh = XCreateRegion();
    addBox(fresh, {0, 0, event.width, event.height});
    XSubtractRegion(fresh, kept, fresh);
    XUnionRegion(watched->untrusted, fresh, watched->untrusted);
    askRepaint(*watched, boundsOf(fresh));
    XDestroyRegion(fresh);
    XDestroyRegion(kept);
    return true;
}

void UntrustedPixels::unmapped(Window window) {
    if (Watched* watched = find(window)) {
        watched->mapped = false;
        clear(*watched);
    }
}

void UntrustedPixels::destroyed(Window window) {
    const auto found = watched_.find(window);
    if (found == watched_.end()) return;
    // Its watch went with it.
    if (found->second.untrusted != nullptr) XDestroyRegion(found->second.untrusted);
    watched_.erase(found);
}

void UntrustedPixels::addUntrusted(Watched& watched, const Box& area) { addBox(watched.untrusted, area); }

void UntrustedPixels::askRepaint(Watched& watched, const Box& area) {
    if (area.empty()) return;
    watched.repaintToAsk = watched.repaintToAsk ? unionOf(*watched.repaintToAsk, area) : area;
}

bool UntrustedPixels::hasRepaintsToAsk() const {
    return std::any_of(watched_.begin(), watched_.end(),
                       [](const auto& entry) { return entry.second.repaintToAsk.has_value(); });
}

void UntrustedPixels::askRepaints() {
    // Each window of every tree where it lies over the asked area, level by
    // level for all trees at once; corners in the top-level's inside
    // coordinates.
    struct Member {
        Window window;
        int x, y;
        Box area;
    };
    std::vector<Member> level;
    for (auto& [window, watched] : watched_) {
        if (!watched.repaintToAsk) continue;
        const Box area = *watched.repaintToAsk;
        watched.repaintToAsk.reset();
        watched.repaintAsked = NextRequest(display_);
        XClearArea(display_, window, area.x, area.y, unsigned(area.width), unsigned(area.height), True);
        level.push_back({window, 0, 0, area});
    }
    while (!level.empty()) {
        std::vector<Window> parents;
        for (const Member& member : level) parents.push_back(member.window);
        const auto childLists = queries_.children(parents);
        std::vector<Member> children;
        std::vector<Window> ids;
        for (std::size_t i = 0; i < level.size(); ++i)
            for (Window child : childLists[i].value_or(std::vector<Window>{})) {
                children.push_back({child, level[i].x, level[i].y, level[i].area});
                ids.push_back(child);
            }
        const auto reports = queries_.describe(ids);
        std::vector<Member> next;
        for (std::size_t i = 0; i < children.size(); ++i) {
            if (!reports[i] || reports[i]->inputOnly) continue;
            const WindowReport& report = *reports[i];
            const Member member{children[i].window, children[i].x + report.x + report.border,
                                children[i].y + report.y + report.border, children[i].area};
            const Box part = intersection(member.area, {member.x, member.y, report.width, report.height});
            if (part.empty()) continue;  // nor can anything inside it show there
            XClearArea(display_, member.window, part.x - member.x, part.y - member.y, unsigned(part.width),
                       unsigned(part.height), True);
            next.push_back(member);
        }
        level = std::move(next);
    }
}

void UntrustedPixels::clear(Watched& watched) {
    XDestroyRegion(watched.untrusted);
    watched.untrusted = XCreateRegion();
    watched.repaintAsked.reset();
    watched.repaintToAsk.reset();
}

void UntrustedPixels::distrust(Window window, std::optional<Box> area) {
    Watched* watched = find(window);
    if (watched == nullptr || !watched->mapped) return;
    const Box part = area.value_or(Box{0, 0, watched->inside.width, watched->inside.height});
    addUntrusted(*watched, part);
    askRepaint(*watched, part);
}

void UntrustedPixels::painted(const XDamageNotifyEvent& damage) {
    Watched* watched = find(damage.drawable);
    if (watched == nullptr || XEmptyRegion(watched->untrusted) || watched->repaintToAsk ||
        !clearsCover(damage.serial, watched->repaintAsked))
        return;
    const Region painted = XCreateRegion();
    XRectangle area = damage.area;
    XUnionRectWithRegion(&area, painted, painted);
    XSubtractRegion(watched->untrusted, painted, watched->untrusted);
    XDestroyRegion(painted);
}

void UntrustedPixels::askAgain() {
    for (auto& entry : watched_)
        if (Watched& watched = entry.second; watched.mapped && !XEmptyRegion(watched.untrusted))
            askRepaint(watched, boundsOf(watched.untrusted));
}

Region UntrustedPixels::of(Window window) const {
    const auto found = watched_.find(window);
    if (found == watched_.end() || found->second.untrusted == nullptr || XEmptyRegion(found->second.untrusted))
        return nullptr;
    return found->second.untrusted;
}

}  // namespace velto::x11
