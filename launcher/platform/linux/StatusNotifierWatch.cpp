#include "StatusNotifierWatch.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

#include <utility>

namespace velto::launcher {

namespace {

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString busService = QStringLiteral("org.freedesktop.DBus");

// Runs `handle` with the reply when it comes, on the main loop.
void whenAnswered(const QDBusPendingCall& call, QObject* context,
                  std::function<void(const QDBusMessage&)> handle) {
    auto* watcher = new QDBusPendingCallWatcher(call, context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [handle = std::move(handle)](QDBusPendingCallWatcher* finished) {
                         handle(finished->reply());
                         finished->deleteLater();
                     });
}

}  // namespace

StatusNotifierWatch::StatusNotifierWatch(const QDBusConnection& bus, std::function<void()> watcherStarted,
                                         std::function<void(bool hosted)> hostedChanged)
    : bus(bus),
      ownerWatch(watcherService, bus, QDBusServiceWatcher::WatchForOwnerChange),
      watcherStarted(std::move(watcherStarted)),
      hostedChanged(std::move(hostedChanged)) {
    connect(&ownerWatch, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& newOwner) { ownerChanged(newOwner); });
    this->bus.connect(watcherService, watcherPath, watcherService, QStringLiteral("StatusNotifierHostRegistered"),
                      this, SLOT(hostRegistered()));
    this->bus.connect(watcherService, watcherPath, watcherService,
                      QStringLiteral("StatusNotifierHostUnregistered"), this, SLOT(hostUnregistered()));
    // Subscribed first, then asked: a watcher that starts in between is
    // reported by the subscription and makes this answer stale.
    QDBusMessage getOwner = QDBusMessage::createMethodCall(busService, QStringLiteral("/org/freedesktop/DBus"),
                                                           busService, QStringLiteral("GetNameOwner"));
    getOwner.setArguments({watcherService});
    const unsigned asked = ownerChanges;
    whenAnswered(this->bus.asyncCall(getOwner), this, [this, asked](const QDBusMessage& reply) {
        if (asked != ownerChanges) return;
        const bool running = reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty();
        ownerChanged(running ? reply.arguments().constFirst().toString() : QString());
    });
}

void StatusNotifierWatch::ownerChanged(const QString& newOwner) {
    ++ownerChanges;
    owner = newOwner;
    if (owner.isEmpty()) {
        setHosted(false);
        return;
    }
    watcherStarted();
    askWhetherHosted();
}

void StatusNotifierWatch::askWhetherHosted() {
    QDBusMessage get = QDBusMessage::createMethodCall(owner, watcherPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get.setArguments({watcherService, QStringLiteral("IsStatusNotifierHostRegistered")});
    const unsigned asked = ownerChanges;
    whenAnswered(bus.asyncCall(get), this, [this, asked](const QDBusMessage& reply) {
        if (asked != ownerChanges) return;
        // A watcher that cannot say has no host to count on.
        setHosted(reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
                  qvariant_cast<QDBusVariant>(reply.arguments().constFirst()).variant().toBool());
    });
}

void StatusNotifierWatch::hostRegistered() {
    if (!owner.isEmpty()) setHosted(true);
}

// Another host may remain: the watcher knows.
void StatusNotifierWatch::hostUnregistered() {
    if (!owner.isEmpty()) askWhetherHosted();
}

void StatusNotifierWatch::setHosted(bool nowHosted) {
    if (hosted == nowHosted) return;
    hosted = nowHosted;
    hostedChanged(nowHosted);
}

}  // namespace velto::launcher
