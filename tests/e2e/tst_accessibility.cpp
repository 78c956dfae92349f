// SPDX-License-Identifier: GPL-3.0-or-later
#include "contract.h"
#include "privatebus.h"
#include "virtualdisplay.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QTest>

// The panel as a screen reader sees it: read back over AT-SPI, on an
// accessibility bus of the test's own.
namespace {

constexpr char accessible[] = "org.a11y.atspi.Accessible";
constexpr char rootPath[] = "/org/a11y/atspi/accessible/root";
constexpr uint labelFor = 1;    // ATSPI_RELATION_LABEL_FOR
constexpr uint labelledBy = 2;  // ATSPI_RELATION_LABELLED_BY

struct Node
{
    QString path;
    QString role;
    QString name;
    QString description;
    QMultiMap<uint, QString> relations; // relation type -> target path
};

QList<QPair<QString, QString>> readReferences(const QDBusArgument &argument) // a(so)
{
    QList<QPair<QString, QString>> references;
    argument.beginArray();
    while (!argument.atEnd()) {
        QString service;
        QDBusObjectPath path;
        argument.beginStructure();
        argument >> service >> path;
        argument.endStructure();
        references.append({service, path.path()});
    }
    argument.endArray();
    return references;
}

} // namespace

class TestAccessibility : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void windowIsNamedByItsCaption();
    void inputsAreNamedByTheLabelBesideThem_data();
    void inputsAreNamedByTheLabelBesideThem();
    void buttonsAreToldApartByDescription();
    void liveLabelsSayWhatTheyShow();

private:
    QDBusMessage ask(const QString &path, const char *interface, const char *method,
                     const QVariantList &arguments = {});
    QString property(const QString &path, const char *name);
    Node node(const QString &path);
    QList<Node> controls();
    Node findOne(const QString &role, const QString &name);

    VirtualDisplay display;
    std::unique_ptr<PrivateBus> bus;
    std::unique_ptr<SimProcess> sim;
    TiedProcess launcher;
    TiedProcess panel;
    QDBusConnection a11y{QString()};
    QString panelService;
    QString windowPath;
};

QDBusMessage TestAccessibility::ask(const QString &path, const char *interface, const char *method,
                                    const QVariantList &arguments)
{
    QDBusMessage call = QDBusMessage::createMethodCall(panelService, path, QString::fromLatin1(interface),
                                                       QString::fromLatin1(method));
    call.setArguments(arguments);
    return a11y.call(call, QDBus::Block, 5000);
}

QString TestAccessibility::property(const QString &path, const char *name)
{
    const QDBusMessage reply = ask(path, "org.freedesktop.DBus.Properties", "Get",
                                   {QString::fromLatin1(accessible), QString::fromLatin1(name)});
    if (reply.type() != QDBusMessage::ReplyMessage)
        return QStringLiteral("<error: %1>").arg(reply.errorMessage());
    return reply.arguments().value(0).value<QDBusVariant>().variant().toString();
}

Node TestAccessibility::node(const QString &path)
{
    Node n;
    n.path = path;
    n.role = ask(path, accessible, "GetRoleName").arguments().value(0).toString();
    n.name = property(path, "Name");
    n.description = property(path, "Description");

    const QDBusMessage reply = ask(path, accessible, "GetRelationSet"); // a(ua(so))
    const QDBusArgument relations = reply.arguments().value(0).value<QDBusArgument>();
    relations.beginArray();
    while (!relations.atEnd()) {
        uint type = 0;
        relations.beginStructure();
        relations >> type;
        const auto targets = readReferences(relations);
        relations.endStructure();
        for (const auto &target : targets)
            n.relations.insert(type, target.second);
    }
    relations.endArray();
    return n;
}

QList<Node> TestAccessibility::controls()
{
    const QDBusMessage reply = ask(windowPath, accessible, "GetChildren");
    QList<Node> nodes;
    for (const auto &child : readReferences(reply.arguments().value(0).value<QDBusArgument>()))
        nodes.append(node(child.second));
    return nodes;
}

Node TestAccessibility::findOne(const QString &role, const QString &name)
{
    QList<Node> found;
    for (const Node &n : controls())
        if (n.role == role && n.name == name)
            found.append(n);
    return found.size() == 1 ? found[0] : Node{};
}

void TestAccessibility::initTestCase()
{
    if (!QFileInfo(QStringLiteral(AT_SPI_BUS_LAUNCHER)).isExecutable())
        QSKIP("at-spi-bus-launcher (at-spi2-core) is not installed");
    QVERIFY(display.start());
    bus = std::make_unique<PrivateBus>();
    QVERIFY(bus->isRunning());
    QProcessEnvironment env = bus->environment();
    env.insert("XDG_RUNTIME_DIR", bus->dir()); // the accessibility bus's socket goes there
    env.insert("DISPLAY", display.name());

    launcher.setProcessEnvironment(env);
    launcher.setStandardErrorFile(QProcess::nullDevice());
    launcher.start(QStringLiteral(AT_SPI_BUS_LAUNCHER), {});
    QVERIFY(launcher.waitForStarted(5000));
    QTRY_VERIFY_WITH_TIMEOUT(bus->nameHasOwner("org.a11y.Bus"), 10000);
    const QDBusMessage addressReply = bus->connect("a11y-address").call(
        QDBusMessage::createMethodCall("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress"));
    const QString address = addressReply.arguments().value(0).toString();
    QVERIFY2(!address.isEmpty(), qPrintable(addressReply.errorMessage()));
    a11y = QDBusConnection::connectToBus(address, QStringLiteral("a11y"));
    QVERIFY(a11y.isConnected());

    sim = std::make_unique<SimProcess>(*bus);
    QVERIFY(sim->start());
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
    panel.setProcessEnvironment(env);
    panel.start(PALVO_PANEL_PATH, {});
    QVERIFY(panel.waitForStarted(5000));

    // Applications are found as a screen reader finds them: through the registry.
    QDeadlineTimer deadline(15000);
    while (panelService.isEmpty() && !deadline.hasExpired()) {
        const QDBusMessage apps = a11y.call(QDBusMessage::createMethodCall(
            "org.a11y.atspi.Registry", rootPath, accessible, "GetChildren"));
        for (const auto &app : readReferences(apps.arguments().value(0).value<QDBusArgument>()))
            if (a11y.interface()->servicePid(app.first).value() == panel.processId())
                panelService = app.first;
        if (panelService.isEmpty())
            QTest::qWait(100);
    }
    QVERIFY2(!panelService.isEmpty(), "the panel never reached the accessibility registry");

    while (windowPath.isEmpty() && !deadline.hasExpired()) {
        const QDBusMessage windows = ask(rootPath, accessible, "GetChildren");
        const auto children = readReferences(windows.arguments().value(0).value<QDBusArgument>());
        if (!children.isEmpty() && ask(children[0].second, accessible, "GetChildCount").type()
                                       == QDBusMessage::ReplyMessage)
            windowPath = children[0].second;
        else
            QTest::qWait(100);
    }
    QVERIFY(!windowPath.isEmpty());
}

void TestAccessibility::cleanupTestCase()
{
    panel.kill();
    panel.waitForFinished(3000);
    sim.reset();
    QDBusConnection::disconnectFromBus(QStringLiteral("a11y"));
    launcher.terminate(); // takes its accessibility bus down with it
    launcher.waitForFinished(3000);
    bus.reset();
}

void TestAccessibility::windowIsNamedByItsCaption()
{
    const Node window = node(windowPath);
    QCOMPARE(window.name, QStringLiteral("Palvo automation test"));
    QCOMPARE(window.role, QStringLiteral("frame"));
}

void TestAccessibility::inputsAreNamedByTheLabelBesideThem_data()
{
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("role");
    QTest::addColumn<QString>("name"); // what a screen reader reads as the input's own name

    QTest::newRow("mode list") << "Mode" << "combo box" << "SSB"; // a combo's name is its choice
    QTest::newRow("audio") << "Audio" << "text" << "Audio";
    QTest::newRow("rig") << "Rig" << "text" << "Rig";
    QTest::newRow("macro") << "Macro" << "text" << "Macro";
}

void TestAccessibility::inputsAreNamedByTheLabelBesideThem()
{
    QFETCH(QString, label);
    QFETCH(QString, role);
    QFETCH(QString, name);

    const Node caption = findOne("label", label);
    QVERIFY2(!caption.path.isEmpty(), "exactly one label with this caption");
    const Node input = findOne(role, name);
    QVERIFY2(!input.path.isEmpty(), "exactly one input with this name");

    QCOMPARE(input.relations.values(labelledBy), QStringList{caption.path});
    QCOMPARE(caption.relations.values(labelFor), QStringList{input.path});
}

void TestAccessibility::buttonsAreToldApartByDescription()
{
    QStringList buttons;
    for (const Node &n : controls())
        if (n.role == u"push button")
            buttons.append(n.name + QStringLiteral(": ") + n.description);
    buttons.sort();
    const QStringList expected = {
        "RX: Tells the host to go back to receive",
        "Run: Sends the macro text to the host",
        "Set: Sends the audio frequency to the host",
        "Set: Sends the chosen mode to the host",
        "Set: Sends the rig frequency to the host",
        "TX: Tells the host to transmit",
    };
    QCOMPARE(buttons, expected);
}

void TestAccessibility::liveLabelsSayWhatTheyShow()
{
    const auto described = [this](const QString &description) {
        for (const Node &n : controls())
            if (n.role == u"label" && n.description == description)
                return n;
        return Node{};
    };
    const QString mode = described("Mode reported by the host").path;
    const QString audio = described("Audio frequency reported by the host").path;
    const QString rig = described("Rig frequency reported by the host").path;
    QVERIFY(!mode.isEmpty() && !audio.isEmpty() && !rig.isEmpty());

    // The host's new values reach the screen reader with the next tick.
    QDBusMessage call = QDBusMessage::createMethodCall(contract::busName, contract::objectPath,
                                                       contract::interfaceName, "ExecuteMacros");
    call.setArguments({QStringLiteral("<MODE:RTTY><AUDIOFQ:1234><ZFQ:7074.15>")});
    const QDBusMessage reply = bus->connect("a11y-host").call(call);
    QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);

    QTRY_COMPARE_WITH_TIMEOUT(property(mode, "Name"), QStringLiteral("RTTY"), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(property(audio, "Name"), QStringLiteral("1234 Hz"), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(property(rig, "Name"), QStringLiteral("7074.15 kHz"), 10000);
}

QTEST_GUILESS_MAIN(TestAccessibility)
#include "tst_accessibility.moc"
