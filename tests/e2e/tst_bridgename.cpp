// SPDX-License-Identifier: GPL-3.0-or-later
#include "contract.h"
#include "dbushost.h"
#include "fakefldigi.h"
#include "hostfailure.h"
#include "privatebus.h"

#include <QDBusConnection>
#include <QSignalSpy>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A loopback port of the test's own that refuses connections: bound but not listening, so
// that no other process takes it between one fake fldigi and the next. The fake listens on it
// beside this socket (both allow the address to be reused; only one listens).
class HeldPort
{
public:
    HeldPort() : m_fd(socket(AF_INET, SOCK_STREAM, 0))
    {
        const int yes = 1;
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_fd < 0 || setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) != 0
            || bind(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
            || getsockname(m_fd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            return;
        m_port = ntohs(address.sin_port);
    }
    ~HeldPort()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    quint16 port() const { return m_port; }

private:
    int m_fd;
    quint16 m_port = 0;
};

// Receives PropertiesChanged signals.
class ChangeListener : public QObject
{
    Q_OBJECT
public:
    QList<QVariantMap> changes;
public slots:
    void changed(const QString &, const QVariantMap &properties, const QStringList &) { changes.append(properties); }
};

} // namespace

// palvo2-fldigi owns the host's name only while fldigi answers: a panel started meanwhile
// finds no host, and one already attached gets errors.
class TestBridgeName : public QObject
{
    Q_OBJECT

private slots:
    void nameFollowsFldigi();
    void changesAreSignalled();
};

void TestBridgeName::nameFollowsFldigi()
{
    PrivateBus bus;
    QVERIFY(bus.isRunning());
    HeldPort held;
    const quint16 port = held.port();
    QVERIFY(port != 0);
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

// PropertiesChanged on the bus, for a macro of its own before its reply, and for a change made
// in fldigi itself with no one reading.
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
    QVERIFY(connection.connect(QString(), contract::objectPath, "org.freedesktop.DBus.Properties", "PropertiesChanged",
                               &listener, SLOT(changed(QString, QVariantMap, QStringList))));
    auto script = DBusHost::attach(connection);

    script->call(contract::executeMacros, "<AUDIOFQ:1234>");
    QTRY_COMPARE_WITH_TIMEOUT(listener.changes.size(), 1, 10000);
    QCOMPARE(listener.changes[0], (QVariantMap{{"AudioFq", 1234}}));
    fldigi.answer("rig.get_frequency", "<double>7074000.000000</double>"); // the operator retunes
    QTRY_COMPARE_WITH_TIMEOUT(listener.changes.size(), 2, 10000);
    QCOMPARE(listener.changes[1], (QVariantMap{{"FqA", 7074000.0}}));
}

QTEST_GUILESS_MAIN(TestBridgeName)
#include "tst_bridgename.moc"
