// SPDX-License-Identifier: GPL-3.0-or-later
#include "contract.h"
#include "dbushost.h"
#include "fakefldigi.h"
#include "hostfailure.h"
#include "privatebus.h"

#include <QTcpServer>
#include <QTest>

// palvo2-fldigi owns the host's name only while fldigi answers: a panel started meanwhile
// finds no host, and one already attached gets errors.
class TestBridgeName : public QObject
{
    Q_OBJECT

private slots:
    void nameFollowsFldigi();
};

void TestBridgeName::nameFollowsFldigi()
{
    PrivateBus bus;
    QVERIFY(bus.isRunning());
    QTcpServer free;
    QVERIFY(free.listen(QHostAddress::LocalHost));
    const quint16 port = free.serverPort();
    free.close();
    QProcess bridge;
    bridge.setProcessEnvironment(bus.environment());
    bridge.start(PALVO2_FLDIGI_PATH, {"--url", QString("http://127.0.0.1:%1/RPC2").arg(port)});
    QVERIFY(bridge.waitForStarted());
    QTest::qWait(2500);
    QVERIFY(!bus.nameHasOwner(contract::busName));
    const QByteArray said = bridge.readAllStandardError(); // once, not at every look
    QVERIFY2(said.count('\n') == 1 && said.contains("looking for fldigi"), said.constData());

    auto fldigi = std::make_unique<FakeFldigi>(port);
    QTRY_VERIFY_WITH_TIMEOUT(bus.nameHasOwner(contract::busName), 3000);
    auto panel = DBusHost::attach(bus.connect("panel"));
    QCOMPARE(panel->read("AudioFq").toInt(), 1500);

    fldigi.reset(); // no call comes: the bridge's own check finds fldigi gone
    QTRY_VERIFY_WITH_TIMEOUT(!bus.nameHasOwner(contract::busName), 3000);
    try {
        panel->read("AudioFq");
        QFAIL("a read with fldigi gone succeeded");
    } catch (const HostFailure &failure) {
        QVERIFY2(failure.text.contains("fldigi is not running at"), qPrintable(failure.text));
    }

    fldigi = std::make_unique<FakeFldigi>(port);
    QTRY_VERIFY_WITH_TIMEOUT(bus.nameHasOwner(contract::busName), 3000);
    QCOMPARE(panel->read("AudioFq").toInt(), 1500); // the same bridge, under the same unique name
    bridge.kill();
    bridge.waitForFinished();
}

QTEST_GUILESS_MAIN(TestBridgeName)
#include "tst_bridgename.moc"
