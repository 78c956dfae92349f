// SPDX-License-Identifier: GPL-3.0-or-later
#include "changelistener.h"
#include "contract.h"
#include "dbushost.h"
#include "hostfailure.h"
#include "privatebus.h"
#include "tiedprocess.h"

#include <QDBusMessage>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtEndian>
#include <QTest>

#include <csignal>

// The D-Bus host link against palvo2-sim on a private bus.
class TestDBusLink : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void attachReadAndCall();
    void unknownNamesFail();
    void noHostRunning();
    void staleAfterHostRestarts();
    void neverStartsAHost();
    void noBus();
    void simRefusesATakenName();
    void simAnnouncesChanges();
    void stalledHostTimesOut();

private:
    std::unique_ptr<PrivateBus> bus;
    std::unique_ptr<SimProcess> sim;
    QDBusConnection connection{QString()};
};

void TestDBusLink::init()
{
    bus = std::make_unique<PrivateBus>();
    QVERIFY(bus->isRunning());
    sim = std::make_unique<SimProcess>(*bus);
    connection = bus->connect("link");
    QVERIFY(connection.isConnected());
}

void TestDBusLink::cleanup()
{
    sim.reset();
    connection = QDBusConnection(QString());
    bus.reset();
}

void TestDBusLink::attachReadAndCall()
{
    QVERIFY(sim->start());
    auto host = DBusHost::attach(connection);
    QVERIFY(host->uniqueName().startsWith(":1."));

    const QVariant audio = host->read("AudioFq");
    QCOMPARE(audio.metaType(), QMetaType::fromType<int>());
    QCOMPARE(audio.toInt(), 1000);
    QCOMPARE(host->read("FqA").toDouble(), 14100000.0);
    QCOMPARE(host->read("Mode").toString(), QStringLiteral("BPSK31"));

    host->call("ExecuteMacros", "<AUDIOFQ:1234><ZFQ:7074.15>");
    QVERIFY(sim->waitForMacro("<AUDIOFQ:1234><ZFQ:7074.15>"));
    QCOMPARE(host->read("AudioFq").toInt(), 1234);
    QCOMPARE(host->read("FqA").toDouble(), 7074150.0);
}

void TestDBusLink::unknownNamesFail()
{
    QVERIFY(sim->start());
    auto host = DBusHost::attach(connection);
    try {
        host->read("Nope");
        QFAIL("read of an unknown property succeeded");
    } catch (const HostFailure &failure) {
        QVERIFY(failure.number != 0);
        QVERIFY2(failure.text.startsWith("org.freedesktop.DBus.Error."), qPrintable(failure.text));
    }
    try {
        host->call("Nope", "x");
        QFAIL("call of an unknown method succeeded");
    } catch (const HostFailure &failure) {
        QCOMPARE(failure.number, int(QDBusError::UnknownMethod));
    }
    try {
        host->call("ExecuteMacros", "<MODE:FT8>");
        QFAIL("a mode the stand-in has not was taken");
    } catch (const HostFailure &failure) {
        QVERIFY2(failure.text.contains("<MODE:FT8>: palvo2-sim has no mode FT8; it has SSB"), qPrintable(failure.text));
        QVERIFY(failure.refused); // by its error name: nothing of the call was carried out
        QCOMPARE(failure.number, int(QDBusError::Other));
    }
}

void TestDBusLink::noHostRunning()
{
    try {
        DBusHost::attach(connection);
        QFAIL("attached with no host running");
    } catch (const HostFailure &failure) {
        QVERIFY2(failure.text.startsWith("org.freedesktop.DBus.Error.NameHasNoOwner"),
                 qPrintable(failure.text));
    }
}

void TestDBusLink::staleAfterHostRestarts()
{
    QVERIFY(sim->start());
    auto old = DBusHost::attach(connection);
    sim->kill();
    SimProcess second(*bus);
    QVERIFY(second.start());

    QVERIFY_THROWS_EXCEPTION(HostFailure, old->read("AudioFq"));
    QVERIFY_THROWS_EXCEPTION(HostFailure, old->call("ExecuteMacros", "<TX>"));
    QVERIFY(!second.waitForMacro("<TX>", 300));

    auto fresh = DBusHost::attach(connection);
    QVERIFY(fresh->uniqueName() != old->uniqueName());
    QCOMPARE(fresh->read("AudioFq").toInt(), 1000);
}

// An activation file for the host's name must never start one: through the attach, reads
// and calls, to a host that runs and to one that has gone. Every message to the bus driver or
// the host carries the no-auto-start flag, as a monitor on the bus reads it.
void TestDBusLink::neverStartsAHost()
{
    QTemporaryDir dir;
    const QString marker = dir.filePath("started");
    PrivateBus activating({{"palvo2.service", QString("[D-BUS Service]\nName=%1\nExec=/bin/touch %2\n")
                                                  .arg(contract::busName, marker)}});
    QVERIFY(activating.isRunning());
    SimProcess host(activating);
    QVERIFY(host.start());
    QDBusConnection link = activating.connect("activation");

    TiedProcess monitor;
    monitor.setStandardOutputFile(dir.filePath("calls.pcap"));
    const QString from = QString("type='method_call',sender='%1',").arg(link.baseService());
    monitor.start("dbus-monitor", {"--address", activating.address(), "--pcap", from + "member='GetNameOwner'",
                                   from + "path='" + contract::objectPath + "'"});
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(dir.filePath("calls.pcap")).size() > 24, 15000); // the header, then its own signals
    QTest::qWait(200);

    auto attached = DBusHost::attach(link);
    attached->read("AudioFq");
    attached->call("ExecuteMacros", "<TX>");
    host.kill();
    QVERIFY_THROWS_EXCEPTION(HostFailure, attached->read("AudioFq"));
    QVERIFY_THROWS_EXCEPTION(HostFailure, attached->call("ExecuteMacros", "<TX>"));
    QVERIFY_THROWS_EXCEPTION(HostFailure, DBusHost::attach(link));
    QTest::qWait(500);
    QVERIFY(!QFileInfo::exists(marker));

    monitor.terminate();
    monitor.waitForFinished(3000);
    QFile pcap(dir.filePath("calls.pcap"));
    QVERIFY(pcap.open(QIODevice::ReadOnly));
    const QByteArray records = pcap.readAll();
    QList<int> flags; // of each method call: byte 2 of the message; 0x2 is "no auto start"
    for (qsizetype at = 24; at + 16 <= records.size();) {
        const auto length = qFromLittleEndian<quint32>(records.constData() + at + 8);
        if (records[at + 16 + 1] == 1)
            flags.append(records[at + 16 + 2]);
        at += 16 + length;
    }
    QCOMPARE(flags.size(), 6);
    for (int flag : flags)
        QVERIFY2(flag & 0x2, qPrintable(QString::number(flag)));

    // The same bus does start it for a message that allows it: the check above is real.
    auto message = QDBusMessage::createMethodCall(contract::busName, contract::objectPath,
                                                  contract::interfaceName, "ExecuteMacros");
    message << QStringLiteral("<TX>");
    link.call(message, QDBus::NoBlock);
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(marker), 15000);
}

void TestDBusLink::noBus()
{
    QDBusConnection none = QDBusConnection::connectToBus("unix:path=/nonexistent/palvo-bus", "none");
    QVERIFY(!none.isConnected());
    try {
        DBusHost::attach(none);
        QFAIL("attached with no bus");
    } catch (const HostFailure &failure) {
        QVERIFY(failure.number != 0);
        QVERIFY(!failure.text.isEmpty());
    }
    QDBusConnection::disconnectFromBus("none");
}

void TestDBusLink::simRefusesATakenName()
{
    QVERIFY(sim->start());
    QVERIFY(bus->nameHasOwner("Palvo2.Application.sim")); // its own name, as the bridges own theirs
    SimProcess second(*bus);
    QVERIFY(!second.start());
    second.process().waitForFinished(5000);
    QCOMPARE(second.process().state(), QProcess::NotRunning);
    QCOMPARE(second.process().exitCode(), 1);
    QVERIFY(second.process().readAllStandardError().contains("already owned"));
}

void TestDBusLink::simAnnouncesChanges()
{
    QVERIFY(sim->start());
    ChangeListener listener;
    QVERIFY(listener.listen(connection));
    auto host = DBusHost::attach(connection);
    host->call("ExecuteMacros", "<MODE:RTTY><MODE:RTTY><AUDIOFQ:900>");
    QTRY_COMPARE_WITH_TIMEOUT(listener.changes.size(), 2, 10000);
    QCOMPARE(listener.changes[0].value("Mode").toString(), QStringLiteral("RTTY"));
    QCOMPARE(listener.changes[1].value("AudioFq").toInt(), 900);
    // Transmitting follows <TX> and <RX>; Modes is what <MODE:…> takes.
    QCOMPARE(host->read("Transmitting"), QVariant(false));
    host->call("ExecuteMacros", "<TX>");
    QCOMPARE(host->read("Transmitting"), QVariant(true));
    host->call("ExecuteMacros", "<RX>");
    QTRY_COMPARE_WITH_TIMEOUT(listener.changes.size(), 4, 10000);
    QCOMPARE(listener.changes[2], (QVariantMap{{"Transmitting", true}}));
    QCOMPARE(listener.changes[3], (QVariantMap{{"Transmitting", false}}));
    QCOMPARE(host->read("Modes").toStringList(), QStringList(std::begin(contract::modes), std::end(contract::modes)));
}

void TestDBusLink::stalledHostTimesOut()
{
    QVERIFY(sim->start());
    auto host = DBusHost::attach(connection);
    ::kill(pid_t(sim->pid()), SIGSTOP);
    QElapsedTimer clock;
    clock.start();
    try {
        host->read("AudioFq");
        QFAIL("a stopped host answered");
    } catch (const HostFailure &failure) {
        QCOMPARE(failure.number, int(QDBusError::NoReply));
    }
    const qint64 waited = clock.elapsed(); // 2 s, not 3
    QVERIFY2(waited >= 1900 && waited < 2850, qPrintable(QString::number(waited)));
}

QTEST_GUILESS_MAIN(TestDBusLink)
#include "tst_dbuslink.moc"
