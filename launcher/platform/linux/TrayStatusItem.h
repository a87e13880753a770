#pragma once
// The status item as a tray icon: through the desktop's status-notifier
// service when one runs, else the older X11 tray, else not shown at all (the
// agent works the same without it).

#include "LauncherPlatform.h"

#include <QMenu>
#include <QSystemTrayIcon>

#include <memory>
#include <vector>

namespace velto::launcher {

class TrayStatusItem final : public StatusItem, private StatusButton {
public:
    StatusButton* button() override { return this; }
    void setMenu(std::vector<MenuEntry> entries) override;

private:
    void setTitle(const std::string& title) override;
    void setToolTip(const std::string& toolTip) override;

    std::unique_ptr<QMenu> menu;  // outlives the icon that shows it
    QSystemTrayIcon trayIcon;
};

}  // namespace velto::launcher
