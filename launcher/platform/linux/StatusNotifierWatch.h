#pragma once
// Follows the session bus's status-notifier watcher: whether one runs with a
// host that shows items, and each time a watcher takes the name (an item
// registers anew with every watcher). Desktops start their panel, and with it
// the watcher, in any order with the agent, and restart it at will.

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QObject>

#include <functional>
#include <optional>

namespace velto::launcher {

class StatusNotifierWatch final : public QObject {
    Q_OBJECT

public:
    // `hostedChanged` runs once the first answer is in, and again at every change.
    StatusNotifierWatch(const QDBusConnection& bus, std::function<void()> watcherStarted,
                        std::function<void(bool hosted)> hostedChanged);

private slots:
    void hostRegistered();
    void hostUnregistered();

private:
    void ownerChanged(const QString& newOwner);
    void askWhetherHosted();
    void setHosted(bool hosted);

    QDBusConnection bus;
    QDBusServiceWatcher ownerWatch;
    std::function<void()> watcherStarted;
    std::function<void(bool)> hostedChanged;
    QString owner;
    std::optional<bool> hosted;  // unknown until the first answer
    unsigned ownerChanges = 0;   // an answer about an earlier owner is stale
};

}  // namespace velto::launcher
