#include "Residues.h"

#include "WindowOwnership.h"
#include "XConnection.h"

#include <vector>

namespace velto::x11 {

XserverRegion Residues::regionOf(Window window) {
    auto found = regions_.find(window);
    if (found == regions_.end()) found = regions_.emplace(window, XFixesCreateRegion(display_, nullptr, 0)).first;
    return found->second;
}

void Residues::watch(Window window) {
    if (damages_.count(window) == 0) damages_[window] = XDamageCreate(display_, window, XDamageReportRawRectangles);
}

void Residues::unwatch(Window window) {
    const auto watched = damages_.find(window);
    if (watched == damages_.end()) return;
    XDamageDestroy(display_, watched->second);
    damages_.erase(watched);
}

XserverRegion Residues::of(Window window) const {
    const auto found = regions_.find(window);
    return found != regions_.end() ? found->second : None;
}

void Residues::keep(Window window, XserverRegion covered, int border) {
    const XserverRegion region = regionOf(window);
    XFixesTranslateRegion(display_, covered, -border, -border);
    XFixesUnionRegion(display_, region, region, covered);
    XFixesTranslateRegion(display_, covered, border, border);
}

void Residues::mapped(Window window, XserverRegion beneath) {
    // The server fills a mapped window's new pixmap with what the screen
    // showed beneath it, private windows included; a window without
    // background keeps that until its program paints.
    const XserverRegion region = regionOf(window);
    XFixesUnionRegion(display_, region, region, beneath);
    XFixesDestroyRegion(display_, beneath);
    // The server reports the map and the border it paints as damage too, and
    // this connection may have begun to watch the window only after its
    // program painted: every window of its tree is asked to paint again
    // (exposed, and its background painted where it has one), and only
    // damage reported after that clears the cover.
    std::vector<Window> tree{window};
    for (std::size_t i = 0; i < tree.size(); ++i)
        for (Window child : childWindows(display_, tree[i])) tree.push_back(child);
    repaintAsked_[window] = NextRequest(display_);
    for (Window member : tree) XClearArea(display_, member, 0, 0, 0, 0, True);  // refused for input-only ones, harmlessly
}

void Residues::painted(const XDamageNotifyEvent& damage) {
    const auto region = regions_.find(damage.drawable);
    if (region == regions_.end()) return;
    const auto asked = repaintAsked_.find(damage.drawable);
    if (!clearsCover(damage.serial, asked != repaintAsked_.end() ? std::optional(asked->second) : std::nullopt))
        return;
    XRectangle area = damage.area;
    const XserverRegion painted = XFixesCreateRegion(display_, &area, 1);
    XFixesSubtractRegion(display_, region->second, region->second, painted);
    XFixesDestroyRegion(display_, painted);
}

void Residues::forget(Window window) {
    if (const auto region = regions_.find(window); region != regions_.end()) {
        XFixesDestroyRegion(display_, region->second);
        regions_.erase(region);
    }
    repaintAsked_.erase(window);
}

}  // namespace velto::x11
