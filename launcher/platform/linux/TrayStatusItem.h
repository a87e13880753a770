#pragma once
// The status item as a tray icon: our own status-notifier item while the
// session has a status-notifier host, else the older X11 tray through
// QSystemTrayIcon (shown once an X11 tray docks it). It follows the host as
// it comes and goes, whichever of the agent and the panel starts first.

#include "LauncherPlatform.h"
#include "StatusNotifierItem.h"
#include "StatusNotifierWatch.h"

#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>

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

    void showOnHost(bool hosted);
    void showX11Icon();
    // What Qt asks once, when its first tray icon is made, to choose between
    // the status-notifier path and the X11 tray.
    bool hostStillRegistered() const;

    std::function<void()> beforeAction;
    QString title;
    QString toolTip;
    std::unique_ptr<QMenu> menu;  // outlives the icons that show it
    std::unique_ptr<StatusNotifierItem> notifierItem;  // only with a session bus
    std::unique_ptr<StatusNotifierWatch> hostWatch;
    // Made the first time no host shows the item, and kept: Qt picks the X11
    // tray for it only when no host is there as it is made.
    std::unique_ptr<QSystemTrayIcon> trayIcon;
    // While a leaving panel's watcher still says it has a host, making the
    // icon would bind it to that path for good: it is made a moment later.
    QTimer retryX11Icon;
    bool hosted = false;
};

}  // namespace velto::launcher
