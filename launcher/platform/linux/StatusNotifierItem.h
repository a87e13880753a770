#pragma once
// The status item as a StatusNotifierItem with a dbusmenu, over the session
// bus, written out rather than taken from QSystemTrayIcon: Qt's item always
// reports ItemIsMenu false (so a click only sends an Activate that opens
// nothing), takes the item's Id from the application name, and rewrites "&"
// in menu labels as an access key.

#include <QDBusConnection>
#include <QImage>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class QDBusServiceWatcher;

namespace velto::launcher {

struct TrayMenuEntry {
    QString label;  // shown as given
    std::function<void()> action;
    bool separator = false;
};

class StatusNotifierItem {
public:
    // True when the session bus has a status-notifier watcher with a host.
    static bool hostAvailable();

    // Registers an item named `id` with the watcher now and whenever a
    // watcher starts. `popUpMenu` shows the menu at a screen position, for
    // hosts that ask the item to show it itself.
    StatusNotifierItem(const QString& id, std::function<void(int x, int y)> popUpMenu);
    ~StatusNotifierItem();
    StatusNotifierItem(const StatusNotifierItem&) = delete;
    StatusNotifierItem& operator=(const StatusNotifierItem&) = delete;

    void setTitle(const QString& title);
    void setIcon(const QImage& icon);
    void setToolTip(const QString& toolTip);
    void setMenu(std::vector<TrayMenuEntry> entries);

    struct State;

private:
    void registerWithWatcher();

    QDBusConnection bus;
    QString serviceName;
    std::unique_ptr<State> state;
    std::unique_ptr<QDBusServiceWatcher> watcherWatch;
};

}  // namespace velto::launcher
