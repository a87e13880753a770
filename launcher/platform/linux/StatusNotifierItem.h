#pragma once
// The status item as a StatusNotifierItem with a dbusmenu, over the session
// bus, written out rather than taken from QSystemTrayIcon: Qt's item always
// reports ItemIsMenu false (so a click only sends an Activate that opens
// nothing), takes the item's Id from the application name, and rewrites "&"
// in menu labels as an access key.

#include <QDBusConnection>
#include <QImage>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace velto::launcher {

struct TrayMenuEntry {
    QString label;  // shown as given
    std::function<void()> action;
    bool separator = false;
};

class StatusNotifierItem {
public:
    // Puts an item named `id` on the session bus; hosts see it once it has
    // registered with the watcher. `popUpMenu` shows the menu at a screen
    // position, for hosts that ask the item to show it itself.
    StatusNotifierItem(const QString& id, std::function<void(int x, int y)> popUpMenu);
    ~StatusNotifierItem();
    StatusNotifierItem(const StatusNotifierItem&) = delete;
    StatusNotifierItem& operator=(const StatusNotifierItem&) = delete;

    // Each watcher keeps its own list of items: register with every one that starts.
    void registerWithWatcher();

    void setTitle(const QString& title);
    // Hosts look the name up in the icon theme and show the pictures when it has none.
    void setIcon(const QString& name, const QList<QImage>& pictures);
    void setToolTip(const QString& toolTip);
    void setMenu(std::vector<TrayMenuEntry> entries);

    struct State;

private:
    QDBusConnection bus;
    QString serviceName;
    std::unique_ptr<State> state;
};

}  // namespace velto::launcher
