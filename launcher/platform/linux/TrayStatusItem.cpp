#include "TrayStatusItem.h"

#include "MainAppContract.h"

#include <QCoreApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDBusVariant>
#include <QIcon>
#include <QImage>

namespace velto::launcher {

namespace {

// The icon as installed in the theme (share/icons/hicolor), named after the launcher.
QString iconName() { return QString::fromStdString(launcherBundleID); }

// The same pictures, built into the program, for when the theme has none:
// one per size of the theme's folders, at one and two times the scale.
QList<QImage> builtInPictures() {
    QList<QImage> pictures;
    for (const int size : {16, 22, 24, 32, 48}) {
        for (const char* scale : {"", "@2"}) {
            const QImage picture(QStringLiteral(":/launcher-icon/%1x%1%2.png").arg(size).arg(QLatin1String(scale)));
            if (!picture.isNull()) pictures.append(picture);
        }
    }
    return pictures;
}

QIcon trayIconPicture() {
    QIcon fallback;
    for (const QImage& picture : builtInPictures()) fallback.addPixmap(QPixmap::fromImage(picture));
    return QIcon::fromTheme(iconName(), fallback);
}

// A lone "&" marks a mnemonic in Qt; menu titles are shown as given.
QString literalMenuText(const std::string& title) {
    return QString::fromStdString(title).replace(QLatin1Char('&'), QLatin1String("&&"));
}

}  // namespace

TrayStatusItem::TrayStatusItem(const std::string& id, std::function<void()> beforeAction)
    : beforeAction(std::move(beforeAction)) {
    retryX11Icon.setSingleShot(true);
    retryX11Icon.setInterval(200);
    QObject::connect(&retryX11Icon, &QTimer::timeout, [this] {
        if (!hosted) showX11Icon();
    });
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        showX11Icon();
        return;
    }
    notifierItem = std::make_unique<StatusNotifierItem>(QString::fromStdString(id), [this](int x, int y) {
        if (menu) menu->popup(QPoint(x, y));
    });
    notifierItem->setIcon(iconName(), builtInPictures());
    hostWatch = std::make_unique<StatusNotifierWatch>(
        bus, [this] { notifierItem->registerWithWatcher(); }, [this](bool hosted) { showOnHost(hosted); });
}

void TrayStatusItem::showOnHost(bool nowHosted) {
    hosted = nowHosted;
    if (!hosted) {
        showX11Icon();
    } else if (trayIcon) {
        trayIcon->hide();
    }
}

bool TrayStatusItem::hostStillRegistered() const {
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString watcher = QStringLiteral("org.kde.StatusNotifierWatcher");
    if (!bus.isConnected() || !bus.interface()->isServiceRegistered(watcher)) return false;
    QDBusInterface properties(watcher, QStringLiteral("/StatusNotifierWatcher"),
                              QStringLiteral("org.freedesktop.DBus.Properties"), bus);
    const QDBusReply<QDBusVariant> reply =
        properties.call(QStringLiteral("Get"), watcher, QStringLiteral("IsStatusNotifierHostRegistered"));
    return reply.isValid() && reply.value().variant().toBool();
}

void TrayStatusItem::showX11Icon() {
    if (!trayIcon && hostStillRegistered()) {
        retryX11Icon.start();
        return;
    }
    if (!trayIcon) {
        trayIcon = std::make_unique<QSystemTrayIcon>(trayIconPicture());
        trayIcon->setToolTip(toolTip);
        trayIcon->setContextMenu(menu.get());
        // The item is a menu, as on the status-notifier path: a left click
        // opens it where the user clicked (Qt opens it on a right click).
        QObject::connect(trayIcon.get(), &QSystemTrayIcon::activated, trayIcon.get(),
                         [this](QSystemTrayIcon::ActivationReason reason) {
                             if (reason == QSystemTrayIcon::Trigger && menu) menu->popup(QCursor::pos());
                         });
    }
    trayIcon->show();
}

void TrayStatusItem::setTitle(const std::string& newTitle) {
    title = QString::fromStdString(newTitle);
    if (notifierItem) notifierItem->setTitle(title);
    // The X11 tray names the icon's window after the application.
    QCoreApplication::setApplicationName(title);
}

void TrayStatusItem::setToolTip(const std::string& newToolTip) {
    toolTip = QString::fromStdString(newToolTip);
    if (notifierItem) notifierItem->setToolTip(toolTip);
    if (trayIcon) trayIcon->setToolTip(toolTip);
}

void TrayStatusItem::setMenu(std::vector<MenuEntry> entries) {
    auto newMenu = std::make_unique<QMenu>();
    std::vector<TrayMenuEntry> busEntries;
    for (auto& entry : entries) {
        if (entry.separator) {
            newMenu->addSeparator();
            busEntries.push_back({{}, {}, true});
            continue;
        }
        auto run = std::make_shared<std::function<void()>>(std::move(entry.action));
        const auto runAction = [run, before = beforeAction] {
            if (before) before();
            if (*run) (*run)();
        };
        QAction* action = newMenu->addAction(literalMenuText(entry.title));
        QObject::connect(action, &QAction::triggered, action, runAction);
        busEntries.push_back({QString::fromStdString(entry.title), runAction});
    }
    if (notifierItem) notifierItem->setMenu(std::move(busEntries));
    if (trayIcon) trayIcon->setContextMenu(newMenu.get());
    menu = std::move(newMenu);
}

}  // namespace velto::launcher
