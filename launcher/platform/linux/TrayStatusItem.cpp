#include "TrayStatusItem.h"

#include <QCoreApplication>
#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace velto::launcher {

namespace {

constexpr int iconHeight = 32;
constexpr int textPixelSize = 22;
constexpr int margin = 2;

// Tray icons are pictures, so the title is drawn into one: light letters with
// a dark outline read on light and dark panels alike.
QIcon iconShowingText(const QString& text) {
    QFont font;
    font.setPixelSize(textPixelSize);
    font.setBold(true);
    const QFontMetrics metrics(font);
    QPixmap pixmap(metrics.horizontalAdvance(text) + 2 * margin, iconHeight);
    pixmap.fill(Qt::transparent);
    QPainterPath path;
    path.addText(margin, (iconHeight + metrics.ascent() - metrics.descent()) / 2.0, font, text);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.strokePath(path, QPen(QColor(0x20, 0x20, 0x20), 2.5));
    painter.fillPath(path, Qt::white);
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
