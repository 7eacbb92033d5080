#pragma once

// The status item as a desktop panel sees it: the suites run a private session bus, play the panel
// (a StatusNotifierWatcher with a host) on a connection of their own, and talk to the item only
// through real D-Bus calls.

#include "DBusMenuExporter.h"
#include "DataFile.h"
#include "SessionServer.h"
#include "StatusItem.h"
#include "StatusNotifierItem.h"
#include "Watcher.h"

#include <QtDBus>
#include <QtTest>
#include <QtWidgets>

#include <memory>

// Signals the panel receives from the item.
class BusSignals : public QObject {
    Q_OBJECT
public:
    QList<QDBusMessage> received;
public Q_SLOTS:
    void record(const QDBusMessage& message) { received.append(message); }
};

inline QIcon solidIcon(QColor color) {
    QPixmap pixmap(32, 32);
    pixmap.fill(color);
    return QIcon(pixmap);
}

// The base of the panel's suites: a watcher on the panel's connection before each test.
class Panel : public QObject {
    Q_OBJECT

protected:
    QDBusConnection panel{QString()};
    Watcher watcher;

    // Exports a watcher and takes its name: replacing the owner or not, and leaving it to a
    // later one or not.
    static bool claimWatcher(QDBusConnection& connection, Watcher& w, bool replace = false,
                             bool allowReplacement = false) {
        using Bus = QDBusConnectionInterface;
        return connection.registerObject("/StatusNotifierWatcher", &w,
                                         QDBusConnection::ExportAdaptors) &&
               connection.interface()
                       ->registerService(
                           "org.kde.StatusNotifierWatcher",
                           replace ? Bus::ReplaceExistingService : Bus::DontQueueService,
                           allowReplacement ? Bus::AllowReplacement : Bus::DontAllowReplacement)
                       .value() == Bus::ServiceRegistered;
    }
    void startPanel() { QVERIFY(claimWatcher(panel, watcher)); }
    static void releaseWatcher(QDBusConnection& connection) {
        connection.unregisterService("org.kde.StatusNotifierWatcher");
        connection.unregisterObject("/StatusNotifierWatcher");
    }
    void stopPanel() { releaseWatcher(panel); }

    // A call from the panel; the item answers on this thread, so wait with the event loop running.
    QDBusMessage call(const QString& service, const QString& path, const QString& interface,
                      const QString& method, const QVariantList& arguments = {}) {
        QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
        message.setArguments(arguments);
        return panel.call(message, QDBus::BlockWithGui, 5000);
    }
    QVariant property(StatusItem& item, const QString& name) {
        const QDBusMessage reply =
            call(item.statusNotifierItem()->serviceName(), "/StatusNotifierItem",
                 "org.freedesktop.DBus.Properties", "Get", {"org.kde.StatusNotifierItem", name});
        return reply.arguments().value(0).value<QDBusVariant>().variant();
    }
    template <typename T> T structure(StatusItem& item, const QString& name) {
        return qdbus_cast<T>(property(item, name).value<QDBusArgument>());
    }
    // A call on the menu, or on the item itself (its methods start with "Activate" or "Context").
    QDBusMessage menuCall(StatusItem& item, const QString& method,
                          const QVariantList& arguments = {}) {
        const bool menu = !method.startsWith("Activate") && !method.startsWith("Context");
        return call(
            item.statusNotifierItem()->serviceName(), menu ? "/MenuBar" : "/StatusNotifierItem",
            menu ? "com.canonical.dbusmenu" : "org.kde.StatusNotifierItem", method, arguments);
    }
    QDBusMessage menuEvent(StatusItem& item, int id, const QString& type) {
        return menuCall(item, "Event", {id, type, QVariant::fromValue(QDBusVariant(0)), 0u});
    }
    DBusMenuLayoutItem layout(StatusItem& item, int parent = 0, int depth = -1) {
        const QDBusMessage reply = menuCall(item, "GetLayout", {parent, depth, QStringList()});
        const auto result = qdbus_cast<DBusMenuLayoutItem>(reply.arguments().value(1));
        render(result); // learns the items' labels
        return result;
    }
    void listen(StatusItem& item, BusSignals& bus) {
        const QString service = item.statusNotifierItem()->serviceName();
        QVERIFY(panel.connect(service, "/StatusNotifierItem", "org.kde.StatusNotifierItem",
                              QString(), &bus, SLOT(record(QDBusMessage))));
        QVERIFY(panel.connect(service, "/MenuBar", "com.canonical.dbusmenu", QString(), &bus,
                              SLOT(record(QDBusMessage))));
    }
    // Everything the item sent before this call has reached the panel once it returns.
    void roundTrip(StatusItem& item) {
        QCoreApplication::processEvents();
        property(item, "Status");
        QCoreApplication::processEvents();
    }

    // What a test saw, a line each, compared at its end with seen/<test function>.txt.
    QStringList seen;
    QHash<int, QString> names; // the items' ids as the host met them, by label
    void see(const QString& lines) { seen += lines.split(u'\n'); }
    int id(const QString& label) const { return names.key(label, label.toInt()); }
    // A call and its reply: "error", or the reply's arguments (revisions aside, which the host
    // only compares), ids by the label of their item.
    void see(const QString& what, const QDBusMessage& message) { see(what + u':' + said(message)); }
    void ask(StatusItem& item, const QString& method, const QVariantList& arguments = {}) {
        see(method, menuCall(item, method, arguments));
    }
    QString said(const QDBusMessage& message) {
        if (message.type() == QDBusMessage::ErrorMessage)
            return " error";
        QString text;
        for (const QVariant& value : message.arguments()) {
            const QString type = value.value<QDBusArgument>().currentSignature();
            if (type == "(ia{sv}av)")
                text += u'\n' + render(qdbus_cast<DBusMenuLayoutItem>(value), 1);
            for (const DBusMenuItem& i :
                 type == "a(ia{sv})" ? qdbus_cast<DBusMenuItemList>(value) : DBusMenuItemList())
                text += "\n  " + name(i.id) + ": " + render(i.properties);
            for (const DBusMenuItemKeys& i : type == "a(ias)"
                                                 ? qdbus_cast<DBusMenuItemKeysList>(value)
                                                 : DBusMenuItemKeysList())
                text += "\n  " + name(i.id) + " lost " + i.properties.join(u' ');
            for (int i : type == "ai" ? qdbus_cast<QList<int>>(value) : QList<int>())
                text += u' ' + name(i);
            if (type == "ai")
                text += " /";
            else if (type.isEmpty() && value.typeId() != QMetaType::UInt)
                text += u' ' + value.toString();
        }
        return text;
    }
    QString name(int id) const { return names.value(id, QString::number(id)); }
    // Item properties as one line; a picture by its size and the colour at its centre.
    static QString render(const QVariantMap& properties) {
        QStringList parts;
        for (auto it = properties.cbegin(); it != properties.cend(); ++it) {
            const QImage image = QImage::fromData(it.value().toByteArray(), "PNG");
            parts.append(it.key() + u'=' +
                         (it.key() == "icon-data"
                              ? QString("%1px,%2")
                                    .arg(image.width())
                                    .arg(image.pixelColor(16, 16).name(QColor::HexArgb))
                              : it.value().toString()));
        }
        return parts.join(u' ');
    }
    // The menu as the host reads it: an item a line, a submenu's items indented below it.
    QString render(const DBusMenuLayoutItem& item, int depth = 0) {
        if (item.properties.contains("label"))
            names[item.id] = item.properties.value("label").toString();
        QString text = QString(depth * 2, u' ') + render(item.properties);
        for (const DBusMenuLayoutItem& child : item.children)
            text += u'\n' + render(child, depth + 1);
        return text;
    }

    struct Fixture {
        QMenu menu;
        QAction* ampersands = menu.addAction("AT&&T and Q&&A");
        QAction* snake = menu.addAction("snake_case");
        QAction* disabled = menu.addAction("No Data Loaded");
        QAction* checked = menu.addAction("Launch at Login");
        QAction* separator = menu.addSeparator();
        QAction* withIcon = menu.addAction(solidIcon(Qt::blue), "Quit");
        StatusItem item;
        Fixture() {
            disabled->setEnabled(false);
            checked->setCheckable(true);
            checked->setChecked(true);
            item.setHighlightMode(true);
            item.setImage(solidIcon(Qt::red));
            item.setAlternateImage(solidIcon(Qt::green));
            item.setMenu(&menu);
            item.setEnabled(true);
            item.setToolTip("Pinglark");
        }
    };

private Q_SLOTS:
    void initTestCase() {
        registerDBusTypes();
        panel = QDBusConnection::connectToBus(qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"),
                                              "panel");
        QVERIFY(panel.isConnected());
    }
    void init() {
        watcher.services.clear();
        watcher.host = true;
        watcher.menuHost = MenuHost::Lxqt;
        startPanel();
    }
    void cleanup() {
        stopPanel();
        const QStringList got = std::exchange(seen, {});
        if (QTest::currentTestFailed() || got.isEmpty())
            return;
        const QString file =
            QFileInfo(__FILE__).absolutePath() + "/seen/" + QTest::currentTestFunction() + ".txt";
        // (With TT_DUMP set, what was seen is written over the file, comments and all.)
        if (qEnvironmentVariableIsSet("TT_DUMP"))
            writeAll(file, got.join(u'\n').toUtf8() + "\n");
        QCOMPARE(got, dataLines(file));
    }
};

// Runs a panel suite on a session bus of its own, started before the application connects to one.
#define PANEL_TEST_MAIN(TestClass)                                                                 \
    int main(int argc, char* argv[]) {                                                             \
        const std::unique_ptr<SessionServer> bus = SessionServer::bus();                           \
        if (!bus)                                                                                  \
            return 1;                                                                              \
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus->address().toUtf8());                              \
        QApplication app(argc, argv);                                                              \
        QApplication::setApplicationName("Pinglark");                                              \
        QApplication::setDesktopFileName("pinglark");                                              \
        TestClass test;                                                                            \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
