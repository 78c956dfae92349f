// SPDX-License-Identifier: GPL-3.0-or-later
#include "contract.h"
#include "dbushost.h"
#include "fakefldigi.h"
#include "hostfailure.h"
#include "privatebus.h"

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

} // namespace

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

QTEST_GUILESS_MAIN(TestBridgeName)
#include "tst_bridgename.moc"
