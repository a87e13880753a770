#pragma once
// The status item as a tray icon: our own status-notifier item when the
// desktop runs a status-notifier host, else the older X11 tray through
// QSystemTrayIcon, else not shown at all (the agent works the same without it).

#include "LauncherPlatform.h"
#include "StatusNotifierItem.h"

#include <QMenu>
#include <QSystemTrayIcon>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace velto::launcher {

class TrayStatusItem final : public StatusItem, private StatusButton {
public:
    // `id` names the item to status-notifier hosts; `beforeAction` runs
    // before the action of every menu entry.
    TrayStatusItem(const std::string& id, std::function<void()> beforeAction);

    StatusButton* button() override { return this; }
    void setMenu(std::vector<MenuEntry> entries) override;

private:
    void setTitle(const std::string& title) override;
    void setToolTip(const std::string& toolTip) override;

    std::function<void()> beforeAction;
    std::unique_ptr<QMenu> menu;  // outlives the icon that shows it
    std::unique_ptr<StatusNotifierItem> notifierItem;
    std::unique_ptr<QSystemTrayIcon> trayIcon;  // only without a status-notifier host
};

}  // namespace velto::launcher
