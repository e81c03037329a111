// AtSpiAnnouncer: one accessible object of the notification role, answered by hand on the
// accessibility bus (the org.a11y.atspi.Accessible interface and its properties), and the two
// events a screen reader acts on: its name changed, and it shows.
#include "app/qt/atspi_announcer.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QList>
#include <QMap>
#include <QStringList>

namespace {

// The connection Qt's accessibility bridge opens to the accessibility bus, by its name.
const QString BRIDGE_CONNECTION = QStringLiteral("a11y");
const QString ACCESSIBLE = QStringLiteral("org.a11y.atspi.Accessible");
const QString PROPERTIES = QStringLiteral("org.freedesktop.DBus.Properties");
const QString EVENTS = QStringLiteral("org.a11y.atspi.Event.Object");
const QString APPLICATION_ROOT = QStringLiteral("/org/a11y/atspi/accessible/root");

// AT-SPI's numbers for the role and the states (enabled, sensitive, showing, visible).
constexpr uint ROLE_NOTIFICATION = 101;
constexpr uint STATES = (1u << 8) | (1u << 24) | (1u << 25) | (1u << 30);

// An object on the bus: the connection's name and the object's path.
struct ObjectRef {
    QString service;
    QDBusObjectPath path;
};

QDBusArgument& operator<<(QDBusArgument& out, const ObjectRef& ref) {
    out.beginStructure();
    out << ref.service << ref.path;
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, ObjectRef& ref) {
    in.beginStructure();
    in >> ref.service >> ref.path;
    in.endStructure();
    return in;
}

// A relation: its type and the objects it points to. The object has none.
struct Relation {
    uint type = 0;
    QList<ObjectRef> targets;
};

QDBusArgument& operator<<(QDBusArgument& out, const Relation& relation) {
    out.beginStructure();
    out << relation.type << relation.targets;
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, Relation& relation) {
    in.beginStructure();
    in >> relation.type >> relation.targets;
    in.endStructure();
    return in;
}

} // namespace

Q_DECLARE_METATYPE(ObjectRef)
Q_DECLARE_METATYPE(Relation)

const char* const AtSpiAnnouncer::PATH = "/org/example/Parlox/Announcement";

// The object itself. D-Bus calls reach it on the window's thread, like the bridge's own.
class AnnouncementNode : public QDBusVirtualObject {
public:
    explicit AnnouncementNode(QDBusConnection bus) : connection(std::move(bus)) {}

    QDBusConnection connection;
    QString name;

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& bus) override {
        const ObjectRef application{bus.baseService(), QDBusObjectPath(APPLICATION_ROOT)};
        const QString member = message.member();
        QDBusMessage reply = message.createReply();
        if (message.interface() == PROPERTIES) {
            const QVariantMap all = properties(application);
            if (member == QStringLiteral("GetAll"))
                reply << all;
            else if (member == QStringLiteral("Get"))
                reply << QVariant::fromValue(
                    QDBusVariant(all.value(message.arguments().value(1).toString())));
            else
                return false;
        } else if (member == QStringLiteral("GetRole")) {
            reply << ROLE_NOTIFICATION;
        } else if (member == QStringLiteral("GetRoleName") ||
                   member == QStringLiteral("GetLocalizedRoleName")) {
            reply << QStringLiteral("notification");
        } else if (member == QStringLiteral("GetState")) {
            reply << QVariant::fromValue(QList<uint>{STATES, 0u});
        } else if (member == QStringLiteral("GetAttributes")) {
            reply << QVariant::fromValue(QMap<QString, QString>());
        } else if (member == QStringLiteral("GetApplication")) {
            reply << QVariant::fromValue(application);
        } else if (member == QStringLiteral("GetInterfaces")) {
            reply << QStringList{ACCESSIBLE};
        } else if (member == QStringLiteral("GetIndexInParent")) {
            reply << -1; // not among the application's children
        } else if (member == QStringLiteral("GetChildren")) {
            reply << QVariant::fromValue(QList<ObjectRef>());
        } else if (member == QStringLiteral("GetRelationSet")) {
            reply << QVariant::fromValue(QList<Relation>());
        } else {
            reply = message.createErrorReply(QDBusError::UnknownMethod, member);
        }
        bus.send(reply);
        return true;
    }

private:
    QVariantMap properties(const ObjectRef& application) const {
        return {{QStringLiteral("Name"), name},
                {QStringLiteral("Description"), QString()},
                {QStringLiteral("HelpText"), QString()},
                {QStringLiteral("Locale"), QStringLiteral("C")},
                {QStringLiteral("AccessibleId"), QStringLiteral("announcement")},
                {QStringLiteral("ChildCount"), 0},
                {QStringLiteral("Parent"), QVariant::fromValue(application)}};
    }
};

AtSpiAnnouncer::AtSpiAnnouncer(QObject* parent) : QObject(parent) {
    qDBusRegisterMetaType<ObjectRef>();
    qDBusRegisterMetaType<QList<ObjectRef>>();
    qDBusRegisterMetaType<Relation>();
    qDBusRegisterMetaType<QList<Relation>>();
    qDBusRegisterMetaType<QMap<QString, QString>>();
}

AtSpiAnnouncer::~AtSpiAnnouncer() {
    if (node)
        node->connection.unregisterObject(QString::fromUtf8(PATH));
}

void AtSpiAnnouncer::announce(const std::string& text) {
    if (!node) {
        // The bridge connects once an assistive technology asks for it, so look each time.
        QDBusConnection bridge(BRIDGE_CONNECTION);
        if (!bridge.isConnected())
            return;
        auto made = std::make_unique<AnnouncementNode>(bridge);
        if (!bridge.registerVirtualObject(QString::fromUtf8(PATH), made.get()))
            return;
        node = std::move(made);
    }
    node->name = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    // The same events Qt's bridge sends for its own objects: a name change, which refreshes what
    // screen readers keep of the name, then the showing that they speak.
    const QString path = QString::fromUtf8(PATH);
    QDBusMessage renamed =
        QDBusMessage::createSignal(path, EVENTS, QStringLiteral("PropertyChange"));
    renamed << QStringLiteral("accessible-name") << 0 << 0
            << QVariant::fromValue(QDBusVariant(node->name)) << QVariant::fromValue(QVariantMap());
    QDBusMessage shows = QDBusMessage::createSignal(path, EVENTS, QStringLiteral("StateChanged"));
    shows << QStringLiteral("showing") << 1 << 0 << QVariant::fromValue(QDBusVariant(0))
          << QVariant::fromValue(QVariantMap());
    node->connection.send(renamed);
    node->connection.send(shows);
}
