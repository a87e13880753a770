// The launcher's menu-bar item and its menu on AppKit.

#include "MacLauncherSupport.h"

#include <optional>
#include <utility>
#include <vector>

using namespace velto::launcher;
using namespace velto::launcher::macos;

// The target of one menu item: runs the core's action for it.
@interface VeltoMenuAction : NSObject
- (instancetype)initWithAction:(std::function<void()>)action;
- (void)perform:(id)sender;
@end

@implementation VeltoMenuAction {
    std::function<void()> _action;
}

- (instancetype)initWithAction:(std::function<void()>)action {
    self = [super init];
    if (self) _action = std::move(action);
    return self;
}

- (void)perform:(id)sender {
    if (_action) _action();
}

@end

namespace velto::launcher::macos {

namespace {

class MacStatusButton final : public StatusButton {
public:
    explicit MacStatusButton(NSStatusBarButton* button) : button_(button) {}
    void setTitle(const std::string& title) override { button_.title = toNSString(title); }
    void setToolTip(const std::string& toolTip) override { button_.toolTip = toNSString(toolTip); }

private:
    NSStatusBarButton* button_;
};

class MacStatusItem final : public StatusItem {
public:
    explicit MacStatusItem(NSStatusItem* item) : item_(item) {
        if (NSStatusBarButton* button = item.button) button_.emplace(button);
    }

    StatusButton* button() override { return button_ ? &*button_ : nullptr; }

    void setMenu(std::vector<MenuEntry> entries) override {
        NSMenu* menu = [[NSMenu alloc] init];
        targets_.clear();
        for (MenuEntry& entry : entries) {
            if (entry.separator) {
                [menu addItem:[NSMenuItem separatorItem]];
                continue;
            }
            VeltoMenuAction* target = [[VeltoMenuAction alloc] initWithAction:std::move(entry.action)];
            NSMenuItem* item = [[NSMenuItem alloc] initWithTitle:toNSString(entry.title)
                                                          action:@selector(perform:)
                                                   keyEquivalent:@""];
            item.target = target;
            [menu addItem:item];
            targets_.push_back(target);
        }
        item_.menu = menu;
    }

private:
    NSStatusItem* item_;
    std::optional<MacStatusButton> button_;
    // Menu items hold their targets weakly.
    std::vector<VeltoMenuAction*> targets_;
};

}  // namespace

std::shared_ptr<StatusItem> makeMacStatusItem() {
    NSStatusItem* item = [[NSStatusBar systemStatusBar] statusItemWithLength:NSVariableStatusItemLength];
    return std::make_shared<MacStatusItem>(item);
}

}  // namespace velto::launcher::macos
