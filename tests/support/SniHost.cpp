// SPDX-License-Identifier: GPL-3.0-or-later
// sni_host: a StatusNotifierWatcher and StatusNotifierHost for tests, on the
// session bus named by DBUS_SESSION_BUS_ADDRESS (a test's private bus).
//
// It owns org.kde.StatusNotifierWatcher, says a host is registered (so Qt
// chooses the D-Bus tray), and reports on stdout, one line each:
//   ready                          the watcher and host names are owned
//   registered SERVICE PATH        an item registered itself
//   unregistered SERVICE           a registered item left the bus
// Commands on stdin, one line each, answered on stdout:
//   props                          the last item's properties, one "Name value"
//                                  line each (IconPixmap as WxH sizes, ToolTip
//                                  as title|text), then "end"
//   call METHOD X Y                calls Activate, SecondaryActivate or
//                                  ContextMenu on the last item: "ok" or
//                                  "error NAME MESSAGE"
// Single-threaded: everything runs in the Qt event loop; the calls to an
// item are synchronous, which is safe because the item lives in another
// process.
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QSocketNotifier>
#include <QStringList>
#include <QTextStream>
#include <cstdio>
#include <unistd.h>

namespace {

const QString WatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString WatcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString ItemInterface = QStringLiteral("org.kde.StatusNotifierItem");
const QString PropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

void Say(const QString& line)
{
    std::fputs(qPrintable(line + u'\n'), stdout);
    std::fflush(stdout);
}

struct Item {
    QString service;
    QString path;
};

// The watcher object: its methods, its properties and its introspection.
class Watcher : public QDBusVirtualObject {
public:
    explicit Watcher(QDBusConnection bus) : m_bus(bus), m_services(this)
    {
        m_services.setConnection(bus);
        m_services.setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
        QObject::connect(&m_services, &QDBusServiceWatcher::serviceUnregistered, this,
                         [this](const QString& service) { Unregistered(service); });
    }

    const QList<Item>& Items() const { return m_items; }

    QString introspect(const QString& path) const override
    {
        if (path != WatcherPath)
            return {};
        return QStringLiteral(
            "<interface name=\"org.kde.StatusNotifierWatcher\">"
            "<method name=\"RegisterStatusNotifierItem\"><arg name=\"service\" type=\"s\" direction=\"in\"/></method>"
            "<method name=\"RegisterStatusNotifierHost\"><arg name=\"service\" type=\"s\" direction=\"in\"/></method>"
            "<property name=\"RegisteredStatusNotifierItems\" type=\"as\" access=\"read\"/>"
            "<property name=\"IsStatusNotifierHostRegistered\" type=\"b\" access=\"read\"/>"
            "<property name=\"ProtocolVersion\" type=\"i\" access=\"read\"/>"
            "<signal name=\"StatusNotifierItemRegistered\"><arg type=\"s\"/></signal>"
            "<signal name=\"StatusNotifierItemUnregistered\"><arg type=\"s\"/></signal>"
            "<signal name=\"StatusNotifierHostRegistered\"/>"
            "</interface>");
    }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        const QString member = message.member();
        if (message.interface() == PropertiesInterface) {
            if (member == u"Get" && message.arguments().size() == 2)
                return Reply(message, connection, {QVariant::fromValue(QDBusVariant(Property(message.arguments()[1].toString())))});
            if (member == u"GetAll") {
                QVariantMap all;
                for (const char* name : {"RegisteredStatusNotifierItems", "IsStatusNotifierHostRegistered", "ProtocolVersion"})
                    all.insert(QLatin1String(name), Property(QLatin1String(name)));
                return Reply(message, connection, {all});
            }
            return false;
        }
        if (member == u"RegisterStatusNotifierItem" && message.arguments().size() == 1) {
            Register(message.service(), message.arguments()[0].toString());
            return Reply(message, connection, {});
        }
        if (member == u"RegisterStatusNotifierHost")
            return Reply(message, connection, {});
        return false;
    }

private:
    static bool Reply(const QDBusMessage& message, const QDBusConnection& connection, const QVariantList& values)
    {
        QDBusMessage reply = message.createReply(values);
        return connection.send(reply);
    }

    QVariant Property(const QString& name) const
    {
        if (name == u"RegisteredStatusNotifierItems") {
            QStringList names;
            for (const Item& item : m_items)
                names << item.service + item.path;
            return names;
        }
        if (name == u"IsStatusNotifierHostRegistered")
            return true;
        if (name == u"ProtocolVersion")
            return 0;
        return {};
    }

    // The argument names either a bus name (the item sits at the standard
    // path) or an object path on the caller's connection.
    void Register(const QString& sender, const QString& argument)
    {
        Item item = argument.startsWith(u'/') ? Item{sender, argument}
                                              : Item{argument, QStringLiteral("/StatusNotifierItem")};
        m_items.append(item);
        m_services.addWatchedService(item.service);
        Say(QStringLiteral("registered %1 %2").arg(item.service, item.path));
        Emit(QStringLiteral("StatusNotifierItemRegistered"), item.service + item.path);
    }

    void Unregistered(const QString& service)
    {
        for (qsizetype i = m_items.size(); i-- > 0;) {
            if (m_items[i].service != service)
                continue;
            Emit(QStringLiteral("StatusNotifierItemUnregistered"), m_items[i].service + m_items[i].path);
            m_items.removeAt(i);
        }
        m_services.removeWatchedService(service);
        Say(QStringLiteral("unregistered %1").arg(service));
    }

    void Emit(const QString& signal, const QString& argument)
    {
        QDBusMessage message = QDBusMessage::createSignal(WatcherPath, WatcherService, signal);
        message << argument;
        m_bus.send(message);
    }

    QDBusConnection m_bus;
    QDBusServiceWatcher m_services;
    QList<Item> m_items;
};

// The sizes of an a(iiay) image list, "WxH" each.
QString ImageSizes(const QDBusArgument& images)
{
    QStringList sizes;
    images.beginArray();
    while (!images.atEnd()) {
        int width = 0;
        int height = 0;
        QByteArray bytes;
        images.beginStructure();
        images >> width >> height >> bytes;
        images.endStructure();
        sizes << QStringLiteral("%1x%2").arg(width).arg(height);
    }
    images.endArray();
    return sizes.join(u' ');
}

// ToolTip is (sa(iiay)ss): icon name, images, title, text.
QString ToolTipText(const QDBusArgument& tip)
{
    QString iconName;
    QString title;
    QString text;
    tip.beginStructure();
    tip >> iconName;
    ImageSizes(tip);
    tip >> title >> text;
    tip.endStructure();
    return title + u'|' + text;
}

QString Describe(const QString& name, const QVariant& value)
{
    if (value.canConvert<QDBusArgument>()) {
        const auto argument = value.value<QDBusArgument>();
        if (name == u"IconPixmap" || name == u"OverlayIconPixmap" || name == u"AttentionIconPixmap")
            return ImageSizes(argument);
        if (name == u"ToolTip")
            return ToolTipText(argument);
        return QStringLiteral("(structure)");
    }
    if (value.canConvert<QDBusObjectPath>())
        return value.value<QDBusObjectPath>().path();
    return value.toString();
}

class Host {
public:
    explicit Host(QDBusConnection bus) : m_bus(bus), m_watcher(bus) {}

    bool Start()
    {
        if (!m_bus.isConnected())
            return false;
        if (!m_bus.registerVirtualObject(WatcherPath, &m_watcher))
            return false;
        const QString host = QStringLiteral("org.kde.StatusNotifierHost-%1").arg(QCoreApplication::applicationPid());
        return m_bus.registerService(host) && m_bus.registerService(WatcherService);
    }

    void Command(const QString& line)
    {
        const QStringList words = line.split(u' ', Qt::SkipEmptyParts);
        if (words.isEmpty())
            return;
        if (m_watcher.Items().isEmpty()) {
            Say(QStringLiteral("error NoItem no item is registered"));
            return;
        }
        const Item item = m_watcher.Items().last();
        if (words[0] == u"props")
            Properties(item);
        else if (words[0] == u"call" && words.size() == 4)
            Call(item, words[1], words[2].toInt(), words[3].toInt());
        else
            Say(QStringLiteral("error BadCommand %1").arg(line));
    }

private:
    void Properties(const Item& item)
    {
        QDBusMessage get = QDBusMessage::createMethodCall(item.service, item.path, PropertiesInterface,
                                                          QStringLiteral("GetAll"));
        get << ItemInterface;
        const QDBusMessage reply = m_bus.call(get, QDBus::Block, 10000);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
            Say(QStringLiteral("error %1 %2").arg(reply.errorName(), reply.errorMessage()));
            return;
        }
        QVariantMap values;
        reply.arguments()[0].value<QDBusArgument>() >> values;
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            Say(it.key() + u' ' + Describe(it.key(), it.value()));
        Say(QStringLiteral("end"));
    }

    void Call(const Item& item, const QString& method, int x, int y)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(item.service, item.path, ItemInterface, method);
        call << x << y;
        const QDBusMessage reply = m_bus.call(call, QDBus::Block, 10000);
        if (reply.type() == QDBusMessage::ReplyMessage)
            Say(QStringLiteral("ok"));
        else
            Say(QStringLiteral("error %1 %2").arg(reply.errorName(), reply.errorMessage()));
    }

    QDBusConnection m_bus;
    Watcher m_watcher;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    Host host(QDBusConnection::sessionBus());
    if (!host.Start()) {
        std::fputs("sni_host: cannot own the watcher name on the session bus\n", stderr);
        return 1;
    }
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QString pending;
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[512];
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got <= 0) {
            QCoreApplication::quit(); // the test has gone
            return;
        }
        pending += QString::fromUtf8(buffer, got);
        qsizetype end;
        while ((end = pending.indexOf(u'\n')) >= 0) {
            host.Command(pending.left(end).trimmed());
            pending.remove(0, end + 1);
        }
    });
    Say(QStringLiteral("ready"));
    return app.exec();
}
