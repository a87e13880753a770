#include "TrayStatusItem.h"

#include <QCoreApplication>
#include <QFont>
#include <QFontMetrics>
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
QIcon iconShowingText(const QString& text) {
    QFont font;
    font.setPixelSize(textPixelSize);
    font.setBold(true);
    const QFontMetrics metrics(font);
    QPixmap pixmap(metrics.horizontalAdvance(text) + 2 * padding, iconHeight);
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
    return QIcon(pixmap);
}

// A lone "&" marks a mnemonic in Qt; menu titles are shown as given.
QString literalMenuText(const std::string& title) {
    return QString::fromStdString(title).replace(QLatin1Char('&'), QLatin1String("&&"));
}

}  // namespace

void TrayStatusItem::setTitle(const std::string& title) {
    // The status-notifier protocol takes the item's title from the
    // application name.
    QCoreApplication::setApplicationName(QString::fromStdString(title));
    trayIcon.setIcon(iconShowingText(QString::fromStdString(title)));
    trayIcon.show();
}

void TrayStatusItem::setToolTip(const std::string& toolTip) { trayIcon.setToolTip(QString::fromStdString(toolTip)); }

void TrayStatusItem::setMenu(std::vector<MenuEntry> entries) {
    auto newMenu = std::make_unique<QMenu>();
    for (auto& entry : entries) {
        if (entry.separator) {
            newMenu->addSeparator();
            continue;
        }
        QAction* action = newMenu->addAction(literalMenuText(entry.title));
        QObject::connect(action, &QAction::triggered, action, [run = std::move(entry.action)] {
            if (run) run();
        });
    }
    trayIcon.setContextMenu(newMenu.get());
    menu = std::move(newMenu);
}

}  // namespace velto::launcher
