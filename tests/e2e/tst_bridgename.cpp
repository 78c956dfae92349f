// SPDX-License-Identifier: GPL-3.0-or-later
#include "changelistener.h"
#include "contract.h"
#include "dbushost.h"
#include "fakefldigi.h"
#include "fakewsjtx.h"
#include "hostfailure.h"
#include "privatebus.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QUdpSocket>
#include <QTcpSocket>
#include <QTest>

// palvo2-fldigi owns the host's name only while fldigi answers: a panel started meanwhile
// finds no host, and one already attached gets errors.
class TestBridgeName : public QObject
{
    Q_OBJECT

private slots:
    void nameFollowsFldigi();
    void changesAreSignalled();
    void twoProgramsOnOneBus();
};

void TestBridgeName::nameFollowsFldigi()
{
    PrivateBus bus;
    QVERIFY(bus.isRunning());
    // A port of the test's own that refuses connections: bound, not listening, so that no other
    // process takes it between one fake fldigi and the next, each listening beside it.
    QTcpSocket held;
    QVERIFY(held.bind(QHostAddress::LocalHost, 0, QAbstractSocket::ReuseAddressHint));
    const quint16 port = held.localPort();
    TiedProcess bridge;
    bridge.setProcessEnvironment(bus.environment());
    bridge.start(PALVO2_FLDIGI_PATH, {"--url", QString("http://127.0.0.1:%1/RPC2").arg(port)});
    QVERIFY(bridge.waitForStarted());
    QByteArray said;
    QTRY_VERIFY_WITH_TIMEOUT((said += bridge.readAllStandardError()).contains("looking for fldigi"), 10000);
    QTest::qWait(2500); // fldigi is looked for twice meanwhile
    QVERIFY(!bus.nameHasOwner(contract::busName));
    said += bridge.readAllStandardError(); // once, not at every look
    QVERIFY2(said.count('\n') == 1 && said.contains("looking for fldigi"), said.constData());

    auto fldigi = std::make_unique<FakeFldigi>(port);
    QCOMPARE(fldigi->port(), port);
    QTRY_VERIFY_WITH_TIMEOUT(bus.nameHasOwner(contract::busName), 10000);
    auto panel = DBusHost::attach(bus.connect("panel"));
    QCOMPARE(panel->read("AudioFq").toInt(), 1500);

    fldigi.reset(); // no call comes: the bridge's own check finds fldigi gone
    QTRY_VERIFY_WITH_TIMEOUT(!bus.nameHasOwner(contract::busName), 10000);
    try {
        panel->read("AudioFq");
        QFAIL("a read with fldigi gone succeeded");
    } catch (const HostFailure &failure) {
        QVERIFY2(failure.text.contains("fldigi is not running at"), qPrintable(failure.text));
    }

    fldigi = std::make_unique<FakeFldigi>(port);
    QCOMPARE(fldigi->port(), port);
    QTRY_VERIFY_WITH_TIMEOUT(bus.nameHasOwner(contract::busName), 10000);
    QCOMPARE(panel->read("AudioFq").toInt(), 1500); // the same bridge, under the same unique name
    bridge.kill();
    bridge.waitForFinished();
}

// PropertiesChanged on the bus, for a macro of its own, and for a change made in fldigi itself
// with no one reading; nothing while nothing changes.
void TestBridgeName::changesAreSignalled()
{
    PrivateBus bus;
    QVERIFY(bus.isRunning());
    FakeFldigi fldigi;
    TiedProcess bridge;
    bridge.setProcessEnvironment(bus.environment());
    bridge.start(PALVO2_FLDIGI_PATH, {"--url", QString("http://127.0.0.1:%1/RPC2").arg(fldigi.port())});
    QVERIFY(bridge.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(bus.nameHasOwner(contract::busName), 10000);
    ChangeListener listener;
    QDBusConnection connection = bus.connect("listener");
    QVERIFY(listener.listen(connection));
    auto script = DBusHost::attach(connection);

    script->call(contract::executeMacros, "<AUDIOFQ:1234>");
    QTRY_COMPARE_WITH_TIMEOUT(listener.changes.size(), 1, 10000);
    QCOMPARE(listener.changes[0], (QVariantMap{{"AudioFq", 1234}}));
    fldigi.answer("rig.get_frequency", "<double>7074000.000000</double>"); // the operator retunes
    QTRY_COMPARE_WITH_TIMEOUT(listener.changes.size(), 2, 10000);
    QCOMPARE(listener.changes[1], (QVariantMap{{"FqA", 7074000.0}}));
    QTest::qWait(2500); // fldigi read twice more, unchanged
    QCOMPARE(listener.changes.size(), 2);
}

// With fldigi's bridge and WSJT-X's on one bus, the one whose program answered first owns the
// host's name and the other waits in the queue for it; each owns its program's name meanwhile.
void TestBridgeName::twoProgramsOnOneBus()
{
    PrivateBus bus;
    QVERIFY(bus.isRunning());
    auto fldigi = std::make_unique<FakeFldigi>();
    TiedProcess fldigiBridge, wsjtxBridge;
    fldigiBridge.setProcessEnvironment(bus.environment());
    fldigiBridge.start(PALVO2_FLDIGI_PATH, {"--url", QString("http://127.0.0.1:%1/RPC2").arg(fldigi->port())});
    QTRY_VERIFY_WITH_TIMEOUT(bus.nameHasOwner("Palvo2.Application.fldigi"), 10000);

    QUdpSocket held; // a free port for WSJT-X to send to
    QVERIFY(held.bind(QHostAddress::LocalHost, 0));
    const quint16 port = held.localPort();
    held.close();
    wsjtxBridge.setProcessEnvironment(bus.environment());
    wsjtxBridge.start(PALVO2_WSJTX_PATH, {"--listen", QString("127.0.0.1:%1").arg(port)});
    QVERIFY(wsjtxBridge.waitForStarted());
    FakeWsjtx wsjtx(port);
    QDBusConnection connection = bus.connect("watcher");
    auto owner = [&](const QString &name) { return connection.interface()->serviceOwner(name).value(); };
    QTRY_VERIFY_WITH_TIMEOUT((wsjtx.heartbeat(), bus.nameHasOwner("Palvo2.Application.wsjtx")), 10000);
    QCOMPARE(owner(contract::busName), owner("Palvo2.Application.fldigi"));

    // What a host program declines before carrying anything out is a refusal, by its error
    // name; a call that fails after its request went out is not.
    auto errorOf = [&](const QString &name, const QString &macro) {
        QDBusMessage message = QDBusMessage::createMethodCall(name, contract::objectPath, contract::interfaceName,
                                                              contract::executeMacros);
        message << macro;
        return connection.call(message, QDBus::Block, 5000).errorName();
    };
    QCOMPARE(errorOf("Palvo2.Application.fldigi", "<MODE:rtty>"), QString(contract::refusedError));
    QCOMPARE(errorOf("Palvo2.Application.wsjtx", "<TX>"), QString(contract::refusedError));
    wsjtx.acceptsRequests = false; // turned off since contact: the Configure goes out unanswered
    QCOMPARE(errorOf("Palvo2.Application.wsjtx", "<MODE:FT4>"), QStringLiteral("org.freedesktop.DBus.Error.Failed"));
    QTest::qWait(200); // the fake, in this process, drops what came while the call blocked
    wsjtx.acceptsRequests = true;

    fldigi.reset(); // its bridge leaves the queue, and WSJT-X's gets the name
    QTRY_VERIFY_WITH_TIMEOUT(!bus.nameHasOwner("Palvo2.Application.fldigi"), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(owner(contract::busName), owner("Palvo2.Application.wsjtx"), 5000);
    auto script = DBusHost::attach(connection);
    QCOMPARE(script->read("Mode").toString(), QStringLiteral("FT8"));
    for (TiedProcess *bridge : {&fldigiBridge, &wsjtxBridge}) {
        bridge->kill();
        bridge->waitForFinished();
    }
}

QTEST_GUILESS_MAIN(TestBridgeName)
#include "tst_bridgename.moc"
