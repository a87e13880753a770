#include "TrayStatusItem.h"

#include <QCoreApplication>
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QPixmap>

namespace velto::launcher {

namespace {

constexpr int iconHeight = 32;
constexpr int textPixelSize = 20;
constexpr int padding = 4;
constexpr qreal cornerRadius = 6;

// Tray icons are pictures, so the title is drawn into one: white letters on
// a dark badge, which stay readable on light and dark panels and when the
// tray scales the picture down to its slot.
QImage iconShowingText(const QString& text) {
    QFont font;
    font.setPixelSize(textPixelSize);
    font.setBold(true);
    const QFontMetrics metrics(font);
    QImage pixmap(metrics.horizontalAdvance(text) + 2 * padding, iconHeight, QImage::Format_ARGB32_Premultiplied);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x20, 0x20, 0x20, 0xe0));
    painter.drawRoundedRect(QRectF(pixmap.rect()), cornerRadius, cornerRadius);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(pixmap.rect(), Qt::AlignCenter, text);
    painter.end();
    return pixmap;
}

// A lone "&" marks a mnemonic in Qt; menu titles are shown as given.
QString literalMenuText(const std::string& title) {
    return QString::fromStdString(title).replace(QLatin1Char('&'), QLatin1String("&&"));
}

}  // namespace

TrayStatusItem::TrayStatusItem(const std::string& id, std::function<void()> beforeAction)
    : beforeAction(std::move(beforeAction)) {
    if (StatusNotifierItem::hostAvailable()) {
        notifierItem = std::make_unique<StatusNotifierItem>(QString::fromStdString(id), [this](int x, int y) {
            if (menu) menu->popup(QPoint(x, y));
        });
    } else {
        trayIcon = std::make_unique<QSystemTrayIcon>();
    }
}

void TrayStatusItem::setTitle(const std::string& title) {
    const QString text = QString::fromStdString(title);
    if (notifierItem) {
        notifierItem->setTitle(text);
        notifierItem->setIcon(iconShowingText(text));
        return;
    }
    // The X11 tray names the icon's window after the application.
    QCoreApplication::setApplicationName(text);
    trayIcon->setIcon(QIcon(QPixmap::fromImage(iconShowingText(text))));
    trayIcon->show();
}

void TrayStatusItem::setToolTip(const std::string& toolTip) {
    if (notifierItem) {
        notifierItem->setToolTip(QString::fromStdString(toolTip));
    } else {
        trayIcon->setToolTip(QString::fromStdString(toolTip));
    }
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
    if (notifierItem) {
        notifierItem->setMenu(std::move(busEntries));
    } else {
        trayIcon->setContextMenu(newMenu.get());
    }
    menu = std::move(newMenu);
}

}  // namespace velto::launcher
