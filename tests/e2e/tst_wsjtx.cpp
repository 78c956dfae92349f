// SPDX-License-Identifier: GPL-3.0-or-later
#include "dbushost.h"
#include "hostfailure.h"
#include "privatebus.h"
#include "virtualdisplay.h"
#include "wsjtxmessage.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

// A script driving a real WSJT-X through palvo2-wsjtx. Runs in network and IPC namespaces of its
// own (see tests/CMakeLists.txt), with a TMPDIR of its own: WSJT-X's request port and its shared
// memory stay in them, and its Close request ends it cleanly.
class TestWsjtx : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void scriptDrivesWsjtx();

private:
    QTemporaryDir dir;
    VirtualDisplay display;
    TiedProcess wsjtx, bridge;
    std::unique_ptr<PrivateBus> bus;
    std::unique_ptr<Host> script;
};

void TestWsjtx::initTestCase()
{
    if (QStandardPaths::findExecutable("wsjtx").isEmpty())
        QSKIP("wsjtx is not installed");
    QVERIFY(display.start());
    const QString home = dir.filePath("home"), tmp = dir.filePath("tmp");
    QVERIFY(QDir().mkpath(home + "/.config") && QDir().mkpath(tmp));
    QFile settings(home + "/.config/WSJT-X.ini");
    QVERIFY(settings.open(QIODevice::WriteOnly));
    settings.write("[Configuration]\nMyCall=N0CALL\nMyGrid=AA00\nAcceptUDPRequests=true\nUDPServer=127.0.0.1\n"
                   "UDPServerPort=2237\n");
    settings.close();

    bus = std::make_unique<PrivateBus>();
    QVERIFY(bus->isRunning());
    bridge.setProcessEnvironment(bus->environment());
    bridge.start(PALVO2_WSJTX_PATH, {});
    QVERIFY(bridge.waitForStarted());

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home);
    env.insert("TMPDIR", tmp);
    env.insert("DISPLAY", display.name());
    wsjtx.setProcessEnvironment(env);
    wsjtx.setStandardOutputFile(QProcess::nullDevice());
    wsjtx.setStandardErrorFile(QProcess::nullDevice());
    wsjtx.start("wsjtx", {});
    QVERIFY(wsjtx.waitForStarted());
    // How long WSJT-X takes to start is not what this test is about: a busy machine gets time.
    QTRY_VERIFY_WITH_TIMEOUT(bus->nameHasOwner("Palvo2.Application.wsjtx"), 60000);
    script = DBusHost::attach(bus->connect("script"));
}

void TestWsjtx::cleanupTestCase()
{
    script.reset();
    for (QProcess *p : {&bridge, &wsjtx}) {
        p->kill();
        p->waitForFinished(3000);
    }
    bus.reset();
}

void TestWsjtx::scriptDrivesWsjtx()
{
    QCOMPARE(script->read("Mode").toString(), QStringLiteral("FT8"));
    // Its start-up passes through a dial of 145 MHz; on a busy machine slowly enough to be read.
    QTRY_COMPARE_WITH_TIMEOUT(script->read("FqA"), QVariant(14074000.0), 5000);

    script->call("ExecuteMacros", "<MODE:FT4>");
    QCOMPARE(script->read("Mode").toString(), QStringLiteral("FT4"));
    QTRY_COMPARE_WITH_TIMEOUT(script->read("FqA"), QVariant(14080000.0), 5000); // WSJT-X retunes by itself
    script->call("ExecuteMacros", "<AUDIOFQ:1234>");
    QCOMPARE(script->read("AudioFq").toInt(), 1234);
    // A mode, then an Rx DF, in one macro: WSJT-X puts the Rx DF back after a mode change close before it.
    script->call("ExecuteMacros", "<MODE:FT8><AUDIOFQ:1400>");
    QCOMPARE(script->read("Mode").toString(), QStringLiteral("FT8"));
    QCOMPARE(script->read("AudioFq").toInt(), 1400);
    script->call("ExecuteMacros", "<RXANDCLEAR><RX><CLEARRXWINDOW>");
    try {
        script->call("ExecuteMacros", "<TX>");
        QFAIL("<TX> was taken");
    } catch (const HostFailure &failure) {
        QVERIFY2(failure.text.contains("only from its own window"), qPrintable(failure.text));
    }

    QProcess ss;
    ss.start("ss", {"-Hulpn"});
    QVERIFY(ss.waitForFinished());
    const auto port = QRegularExpression(R"(:(\d+)\s.*"wsjtx")").match(QString::fromUtf8(ss.readAll()));
    QVERIFY(port.hasMatch());
    QUdpSocket toWsjtx;
    toWsjtx.connectToHost(QHostAddress::LocalHost, quint16(port.captured(1).toUInt()));

    // Each mode keeps its own T/R period: FST4 set to 300 s in WSJT-X, then Q65 (its own 30 s) and back.
    script->call("ExecuteMacros", "<MODE:FST4>");
    QByteArray at300; // a Configure with the T/R period alone
    QDataStream(&at300, QIODevice::WriteOnly) << wsjtx::magic << wsjtx::schema << quint32(wsjtx::Type::Configure)
                                              << QByteArray("WSJT-X") << QByteArray() << wsjtx::noChange << QByteArray()
                                              << false << quint32(300) << wsjtx::noChange << QByteArray() << QByteArray()
                                              << false;
    toWsjtx.write(at300);
    QTest::qWait(300);
    script->call("ExecuteMacros", "<MODE:Q65>");
    QTest::qWait(300); // a period sent with the mode is set a moment after it
    script->call("ExecuteMacros", "<MODE:FST4>");

    // Its Close ends it, and the name goes with it.
    toWsjtx.write(wsjtx::close(QStringLiteral("WSJT-X")));
    QTRY_VERIFY_WITH_TIMEOUT(!bus->nameHasOwner("Palvo2.Application"), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(wsjtx.state(), QProcess::NotRunning, 10000);
    QCOMPARE(wsjtx.exitStatus(), QProcess::NormalExit);
    QCOMPARE(wsjtx.exitCode(), 0);
    QSettings saved(dir.filePath("home/.config/WSJT-X.ini"), QSettings::IniFormat); // written as it closed
    QCOMPARE(saved.value("TRPeriod_FST4").toInt(), 300);
    QCOMPARE(saved.value("TRPeriod_Q65", 30).toInt(), 30); // written only once changed
}

QTEST_GUILESS_MAIN(TestWsjtx)
#include "tst_wsjtx.moc"
