#include "StatusNotifierItem.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QList>
#include <QVariantMap>
#include <QtEndian>

#include <unistd.h>

namespace velto::launcher {

namespace {

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString itemInterface = QStringLiteral("org.kde.StatusNotifierItem");
const QString itemPath = QStringLiteral("/StatusNotifierItem");
const QString menuInterface = QStringLiteral("com.canonical.dbusmenu");
const QString menuPath = QStringLiteral("/MenuBar");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

// One picture of the item's icon: width, height, ARGB32 in network byte order.
struct IconPixmap {
    int width = 0;
    int height = 0;
    QByteArray argb;
};
using IconPixmaps = QList<IconPixmap>;

struct ToolTip {
    QString iconName;
    IconPixmaps icon;
    QString title;
    QString description;
};

struct MenuLayout {
    int id = 0;
    QVariantMap properties;
    QList<QDBusVariant> children;  // each a MenuLayout
};

struct MenuItemProperties {
    int id = 0;
    QVariantMap properties;
};
using MenuItemPropertiesList = QList<MenuItemProperties>;

}  // namespace
}  // namespace velto::launcher

Q_DECLARE_METATYPE(velto::launcher::IconPixmap)
Q_DECLARE_METATYPE(velto::launcher::ToolTip)
Q_DECLARE_METATYPE(velto::launcher::MenuLayout)
Q_DECLARE_METATYPE(velto::launcher::MenuItemProperties)

namespace velto::launcher {

namespace {

QDBusArgument& operator<<(QDBusArgument& out, const IconPixmap& pixmap) {
    out.beginStructure();
    out << pixmap.width << pixmap.height << pixmap.argb;
    out.endStructure();
    return out;
}
const QDBusArgument& operator>>(const QDBusArgument& in, IconPixmap& pixmap) {
    in.beginStructure();
    in >> pixmap.width >> pixmap.height >> pixmap.argb;
    in.endStructure();
    return in;
}
QDBusArgument& operator<<(QDBusArgument& out, const ToolTip& toolTip) {
    out.beginStructure();
    out << toolTip.iconName << toolTip.icon << toolTip.title << toolTip.description;
    out.endStructure();
    return out;
}
const QDBusArgument& operator>>(const QDBusArgument& in, ToolTip& toolTip) {
    in.beginStructure();
    in >> toolTip.iconName >> toolTip.icon >> toolTip.title >> toolTip.description;
    in.endStructure();
    return in;
}
QDBusArgument& operator<<(QDBusArgument& out, const MenuLayout& layout) {
    out.beginStructure();
    out << layout.id << layout.properties << layout.children;
    out.endStructure();
    return out;
}
const QDBusArgument& operator>>(const QDBusArgument& in, MenuLayout& layout) {
    in.beginStructure();
    in >> layout.id >> layout.properties >> layout.children;
    in.endStructure();
    return in;
}
QDBusArgument& operator<<(QDBusArgument& out, const MenuItemProperties& item) {
    out.beginStructure();
    out << item.id << item.properties;
    out.endStructure();
    return out;
}
const QDBusArgument& operator>>(const QDBusArgument& in, MenuItemProperties& item) {
    in.beginStructure();
    in >> item.id >> item.properties;
    in.endStructure();
    return in;
}

void registerTypes() {
    static const bool registered = [] {
        qDBusRegisterMetaType<IconPixmap>();
        qDBusRegisterMetaType<IconPixmaps>();
        qDBusRegisterMetaType<ToolTip>();
        qDBusRegisterMetaType<MenuLayout>();
        qDBusRegisterMetaType<MenuItemProperties>();
        qDBusRegisterMetaType<MenuItemPropertiesList>();
        return true;
    }();
    (void)registered;
}

IconPixmap pixmapOf(const QImage& picture) {
    const QImage image = picture.convertToFormat(QImage::Format_ARGB32);
    IconPixmap pixmap{image.width(), image.height(), {}};
    pixmap.argb.resize(image.width() * image.height() * 4);
    auto* out = reinterpret_cast<uchar*>(pixmap.argb.data());
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x, out += 4) qToBigEndian<quint32>(line[x], out);
    }
    return pixmap;
}

// In dbusmenu a lone "_" marks the access key; "&" means nothing.
QString dbusMenuLabel(const QString& label) { return QString(label).replace(QLatin1Char('_'), QLatin1String("__")); }

// A D-Bus object answered by hand: methods by name, properties from a map.
class BusObject : public QDBusVirtualObject {
public:
    BusObject(QString interface, QString introspection)
        : interface(std::move(interface)), introspection(std::move(introspection)) {}

    QString introspect(const QString&) const override { return introspection; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.interface() == propertiesInterface) return handleProperties(message, connection);
        if (message.interface() != interface && !message.interface().isEmpty()) return false;
        QList<QVariant> reply;
        if (!call(message.member(), message.arguments(), reply)) return false;
        if (!message.isReplyRequired()) return true;
        return connection.send(message.createReply(reply));
    }

    virtual QVariantMap properties() const = 0;

    void emitSignal(const QDBusConnection& bus, const QString& path, const QString& name,
                    const QList<QVariant>& arguments = {}) const {
        QDBusMessage signal = QDBusMessage::createSignal(path, interface, name);
        signal.setArguments(arguments);
        bus.send(signal);
    }

protected:
    // False when there is no such method.
    virtual bool call(const QString& member, const QList<QVariant>& arguments, QList<QVariant>& reply) = 0;

private:
    bool handleProperties(const QDBusMessage& message, const QDBusConnection& connection) {
        const auto arguments = message.arguments();
        if (arguments.isEmpty() || arguments[0].toString() != interface) return false;
        const QVariantMap all = properties();
        QDBusMessage reply;
        if (message.member() == QLatin1String("GetAll")) {
            reply = message.createReply(QVariant::fromValue(all));
        } else if (message.member() == QLatin1String("Get") && arguments.size() == 2 &&
                   all.contains(arguments[1].toString())) {
            reply = message.createReply(QVariant::fromValue(QDBusVariant(all[arguments[1].toString()])));
        } else {
            reply = message.createErrorReply(QDBusError::InvalidArgs, QStringLiteral("No such property."));
        }
        return connection.send(reply);
    }

    const QString interface;
    const QString introspection;
};

}  // namespace

struct StatusNotifierItem::State {
    QString id;
    QString title;
    QString iconName;
    IconPixmaps icon;
    QString toolTip;
    std::vector<TrayMenuEntry> menu;
    unsigned revision = 1;
    std::function<void(int, int)> popUpMenu;
    // QtDBus keeps only pointers to these.
    std::unique_ptr<BusObject> itemObject;
    std::unique_ptr<BusObject> menuObject;
};

namespace {

class ItemObject final : public BusObject {
public:
    explicit ItemObject(StatusNotifierItem::State& state)
        : BusObject(itemInterface, QStringLiteral(
              "<interface name=\"org.kde.StatusNotifierItem\">"
              "<property name=\"Category\" type=\"s\" access=\"read\"/>"
              "<property name=\"Id\" type=\"s\" access=\"read\"/>"
              "<property name=\"Title\" type=\"s\" access=\"read\"/>"
              "<property name=\"Status\" type=\"s\" access=\"read\"/>"
              "<property name=\"WindowId\" type=\"i\" access=\"read\"/>"
              "<property name=\"IconThemePath\" type=\"s\" access=\"read\"/>"
              "<property name=\"IconName\" type=\"s\" access=\"read\"/>"
              "<property name=\"IconPixmap\" type=\"a(iiay)\" access=\"read\"/>"
              "<property name=\"OverlayIconName\" type=\"s\" access=\"read\"/>"
              "<property name=\"OverlayIconPixmap\" type=\"a(iiay)\" access=\"read\"/>"
              "<property name=\"AttentionIconName\" type=\"s\" access=\"read\"/>"
              "<property name=\"AttentionIconPixmap\" type=\"a(iiay)\" access=\"read\"/>"
              "<property name=\"AttentionMovieName\" type=\"s\" access=\"read\"/>"
              "<property name=\"ToolTip\" type=\"(sa(iiay)ss)\" access=\"read\"/>"
              "<property name=\"ItemIsMenu\" type=\"b\" access=\"read\"/>"
              "<property name=\"Menu\" type=\"o\" access=\"read\"/>"
              "<method name=\"ContextMenu\"><arg name=\"x\" type=\"i\" direction=\"in\"/>"
              "<arg name=\"y\" type=\"i\" direction=\"in\"/></method>"
              "<method name=\"Activate\"><arg name=\"x\" type=\"i\" direction=\"in\"/>"
              "<arg name=\"y\" type=\"i\" direction=\"in\"/></method>"
              "<method name=\"SecondaryActivate\"><arg name=\"x\" type=\"i\" direction=\"in\"/>"
              "<arg name=\"y\" type=\"i\" direction=\"in\"/></method>"
              "<method name=\"Scroll\"><arg name=\"delta\" type=\"i\" direction=\"in\"/>"
              "<arg name=\"orientation\" type=\"s\" direction=\"in\"/></method>"
              "<signal name=\"NewTitle\"/><signal name=\"NewIcon\"/><signal name=\"NewAttentionIcon\"/>"
              "<signal name=\"NewOverlayIcon\"/><signal name=\"NewToolTip\"/>"
              "<signal name=\"NewStatus\"><arg name=\"status\" type=\"s\"/></signal>"
              "</interface>")),
          state(state) {}

    QVariantMap properties() const override {
        return {
            {QStringLiteral("Category"), QStringLiteral("ApplicationStatus")},
            {QStringLiteral("Id"), state.id},
            {QStringLiteral("Title"), state.title},
            {QStringLiteral("Status"), QStringLiteral("Active")},
            {QStringLiteral("WindowId"), 0},
            {QStringLiteral("IconThemePath"), QString()},
            {QStringLiteral("IconName"), state.iconName},
            {QStringLiteral("IconPixmap"), QVariant::fromValue(state.icon)},
            {QStringLiteral("OverlayIconName"), QString()},
            {QStringLiteral("OverlayIconPixmap"), QVariant::fromValue(IconPixmaps{})},
            {QStringLiteral("AttentionIconName"), QString()},
            {QStringLiteral("AttentionIconPixmap"), QVariant::fromValue(IconPixmaps{})},
            {QStringLiteral("AttentionMovieName"), QString()},
            {QStringLiteral("ToolTip"), QVariant::fromValue(ToolTip{{}, {}, state.toolTip, {}})},
            // A click opens the menu: the item has nothing else to do.
            {QStringLiteral("ItemIsMenu"), true},
            {QStringLiteral("Menu"), QVariant::fromValue(QDBusObjectPath(menuPath))},
        };
    }

protected:
    bool call(const QString& member, const QList<QVariant>& arguments, QList<QVariant>&) override {
        // Hosts that ignore ItemIsMenu, or have no dbusmenu support, ask the
        // item to show its menu itself.
        if (member == QLatin1String("Activate") || member == QLatin1String("ContextMenu")) {
            if (arguments.size() == 2 && state.popUpMenu) {
                const int x = arguments[0].toInt();
                const int y = arguments[1].toInt();
                QMetaObject::invokeMethod(QCoreApplication::instance(), [popUp = state.popUpMenu, x, y] { popUp(x, y); },
                                          Qt::QueuedConnection);
            }
            return true;
        }
        return member == QLatin1String("SecondaryActivate") || member == QLatin1String("Scroll");
    }

private:
    StatusNotifierItem::State& state;
};

class MenuObject final : public BusObject {
public:
    explicit MenuObject(StatusNotifierItem::State& state)
        : BusObject(menuInterface, QStringLiteral(
              "<interface name=\"com.canonical.dbusmenu\">"
              "<property name=\"Version\" type=\"u\" access=\"read\"/>"
              "<property name=\"TextDirection\" type=\"s\" access=\"read\"/>"
              "<property name=\"Status\" type=\"s\" access=\"read\"/>"
              "<property name=\"IconThemePath\" type=\"as\" access=\"read\"/>"
              "<method name=\"GetLayout\"><arg type=\"i\" name=\"parentId\" direction=\"in\"/>"
              "<arg type=\"i\" name=\"recursionDepth\" direction=\"in\"/>"
              "<arg type=\"as\" name=\"propertyNames\" direction=\"in\"/>"
              "<arg type=\"u\" name=\"revision\" direction=\"out\"/>"
              "<arg type=\"(ia{sv}av)\" name=\"layout\" direction=\"out\"/></method>"
              "<method name=\"GetGroupProperties\"><arg type=\"ai\" name=\"ids\" direction=\"in\"/>"
              "<arg type=\"as\" name=\"propertyNames\" direction=\"in\"/>"
              "<arg type=\"a(ia{sv})\" name=\"properties\" direction=\"out\"/></method>"
              "<method name=\"GetProperty\"><arg type=\"i\" name=\"id\" direction=\"in\"/>"
              "<arg type=\"s\" name=\"name\" direction=\"in\"/>"
              "<arg type=\"v\" name=\"value\" direction=\"out\"/></method>"
              "<method name=\"Event\"><arg type=\"i\" name=\"id\" direction=\"in\"/>"
              "<arg type=\"s\" name=\"eventId\" direction=\"in\"/>"
              "<arg type=\"v\" name=\"data\" direction=\"in\"/>"
              "<arg type=\"u\" name=\"timestamp\" direction=\"in\"/></method>"
              "<method name=\"EventGroup\"><arg type=\"a(isvu)\" name=\"events\" direction=\"in\"/>"
              "<arg type=\"ai\" name=\"idErrors\" direction=\"out\"/></method>"
              "<method name=\"AboutToShow\"><arg type=\"i\" name=\"id\" direction=\"in\"/>"
              "<arg type=\"b\" name=\"needUpdate\" direction=\"out\"/></method>"
              "<method name=\"AboutToShowGroup\"><arg type=\"ai\" name=\"ids\" direction=\"in\"/>"
              "<arg type=\"ai\" name=\"updatesNeeded\" direction=\"out\"/>"
              "<arg type=\"ai\" name=\"idErrors\" direction=\"out\"/></method>"
              "<signal name=\"ItemsPropertiesUpdated\"><arg type=\"a(ia{sv})\" name=\"updatedProps\"/>"
              "<arg type=\"a(ias)\" name=\"removedProps\"/></signal>"
              "<signal name=\"LayoutUpdated\"><arg type=\"u\" name=\"revision\"/>"
              "<arg type=\"i\" name=\"parent\"/></signal>"
              "<signal name=\"ItemActivationRequested\"><arg type=\"i\" name=\"id\"/>"
              "<arg type=\"u\" name=\"timestamp\"/></signal>"
              "</interface>")),
          state(state) {}

    QVariantMap properties() const override {
        return {
            {QStringLiteral("Version"), 3u},
            {QStringLiteral("TextDirection"), QStringLiteral("ltr")},
            {QStringLiteral("Status"), QStringLiteral("normal")},
            {QStringLiteral("IconThemePath"), QStringList()},
        };
    }

protected:
    bool call(const QString& member, const QList<QVariant>& arguments, QList<QVariant>& reply) override {
        if (member == QLatin1String("GetLayout")) {
            reply = {state.revision, QVariant::fromValue(layout(arguments.value(0).toInt()))};
        } else if (member == QLatin1String("GetGroupProperties")) {
            MenuItemPropertiesList items;
            for (const int id : qdbus_cast<QList<int>>(arguments.value(0))) {
                if (entryAt(id) || id == 0) items.append({id, propertiesOf(id)});
            }
            reply = {QVariant::fromValue(items)};
        } else if (member == QLatin1String("GetProperty")) {
            reply = {QVariant::fromValue(QDBusVariant(propertiesOf(arguments.value(0).toInt())
                                                          .value(arguments.value(1).toString())))};
        } else if (member == QLatin1String("Event")) {
            if (arguments.value(1).toString() == QLatin1String("clicked")) click(arguments.value(0).toInt());
        } else if (member == QLatin1String("EventGroup")) {
            const QDBusArgument events = arguments.value(0).value<QDBusArgument>();
            events.beginArray();
            while (!events.atEnd()) {
                int id = 0;
                QString eventId;
                QDBusVariant data;
                uint timestamp = 0;
                events.beginStructure();
                events >> id >> eventId >> data >> timestamp;
                events.endStructure();
                if (eventId == QLatin1String("clicked")) click(id);
            }
            events.endArray();
            reply = {QVariant::fromValue(QList<int>())};
        } else if (member == QLatin1String("AboutToShow")) {
            reply = {false};
        } else if (member == QLatin1String("AboutToShowGroup")) {
            reply = {QVariant::fromValue(QList<int>()), QVariant::fromValue(QList<int>())};
        } else {
            return false;
        }
        return true;
    }

private:
    // Entry i of the menu has the id i + 1; the root is 0.
    const TrayMenuEntry* entryAt(int id) const {
        if (id < 1 || static_cast<std::size_t>(id) > state.menu.size()) return nullptr;
        return &state.menu[static_cast<std::size_t>(id - 1)];
    }

    QVariantMap propertiesOf(int id) const {
        if (id == 0) return {{QStringLiteral("children-display"), QStringLiteral("submenu")}};
        const TrayMenuEntry* entry = entryAt(id);
        if (!entry) return {};
        if (entry->separator) return {{QStringLiteral("type"), QStringLiteral("separator")}};
        return {{QStringLiteral("label"), dbusMenuLabel(entry->label)},
                {QStringLiteral("enabled"), true},
                {QStringLiteral("visible"), true}};
    }

    MenuLayout layout(int parentId) const {
        MenuLayout root{parentId, propertiesOf(parentId), {}};
        if (parentId != 0) return root;
        for (std::size_t i = 0; i < state.menu.size(); ++i) {
            const int id = static_cast<int>(i) + 1;
            root.children.append(QDBusVariant(QVariant::fromValue(MenuLayout{id, propertiesOf(id), {}})));
        }
        return root;
    }

    // After the reply: the action may end the agent.
    void click(int id) const {
        const TrayMenuEntry* entry = entryAt(id);
        if (!entry || entry->separator || !entry->action) return;
        QMetaObject::invokeMethod(QCoreApplication::instance(), [action = entry->action] { action(); },
                                  Qt::QueuedConnection);
    }

    StatusNotifierItem::State& state;
};

}  // namespace

StatusNotifierItem::StatusNotifierItem(const QString& id, std::function<void(int x, int y)> popUpMenu)
    : bus(QDBusConnection::sessionBus()),
      serviceName(QStringLiteral("org.kde.StatusNotifierItem-%1-1").arg(::getpid())),
      state(std::make_unique<State>()) {
    registerTypes();
    state->id = id;
    state->popUpMenu = std::move(popUpMenu);
    state->itemObject = std::make_unique<ItemObject>(*state);
    state->menuObject = std::make_unique<MenuObject>(*state);
    bus.registerVirtualObject(itemPath, state->itemObject.get());
    bus.registerVirtualObject(menuPath, state->menuObject.get());
    bus.registerService(serviceName);
}

StatusNotifierItem::~StatusNotifierItem() {
    bus.unregisterObject(itemPath);
    bus.unregisterObject(menuPath);
    bus.unregisterService(serviceName);
}

void StatusNotifierItem::registerWithWatcher() {
    QDBusMessage call = QDBusMessage::createMethodCall(watcherService, watcherPath, watcherService,
                                                       QStringLiteral("RegisterStatusNotifierItem"));
    call.setArguments({serviceName});
    bus.asyncCall(call);
}

void StatusNotifierItem::setTitle(const QString& title) {
    state->title = title;
    state->itemObject->emitSignal(bus, itemPath, QStringLiteral("NewTitle"));
}

void StatusNotifierItem::setIcon(const QString& name, const QList<QImage>& pictures) {
    state->iconName = name;
    state->icon.clear();
    for (const QImage& picture : pictures) state->icon.append(pixmapOf(picture));
    state->itemObject->emitSignal(bus, itemPath, QStringLiteral("NewIcon"));
}

void StatusNotifierItem::setToolTip(const QString& toolTip) {
    state->toolTip = toolTip;
    state->itemObject->emitSignal(bus, itemPath, QStringLiteral("NewToolTip"));
}

void StatusNotifierItem::setMenu(std::vector<TrayMenuEntry> entries) {
    state->menu = std::move(entries);
    ++state->revision;
    state->menuObject->emitSignal(bus, menuPath, QStringLiteral("LayoutUpdated"), {state->revision, 0});
}

}  // namespace velto::launcher
