// SPDX-License-Identifier: GPL-3.0-or-later
#include "contract.h"
#include "privatebus.h"
#include "sessionbus.h"
#include "virtualdisplay.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QTest>
#include <QThread>

#include <csignal>

// The palvo-panel program itself on a virtual X display, answered with real key presses.
class TestPanelBinary : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void notLoadedMessageComesFirst();
    void hungBusIsNoHost();
    void hostFailureEndsWithStatusOne();
    void noDisplayEndsWithStatusOne();

private:
    QStringList visibleWindows(bool mappedOnly = true);
    QString windowSize(const QString &window);
    bool waitForWindows(int count, int timeoutMs = 60000); // start-up is not what is timed
    QString noWindow(); // what was found instead
    void pressReturn();
    void messageThenPanel();

    VirtualDisplay display;
    std::unique_ptr<PrivateBus> bus;
    TiedProcess panel;
};

void TestPanelBinary::initTestCase()
{
    QVERIFY(display.start());
}

void TestPanelBinary::init()
{
    bus = std::make_unique<PrivateBus>();
    QVERIFY(bus->isRunning());
    QProcessEnvironment env = bus->environment();
    env.insert("DISPLAY", display.name());
    env.insert("QT_QPA_PLATFORM", "xcb");
    panel.setProcessEnvironment(env);
}

void TestPanelBinary::cleanup()
{
    panel.kill();
    panel.waitForFinished(3000);
    bus.reset();
}

QStringList TestPanelBinary::visibleWindows(bool mappedOnly)
{
    QProcess xdotool;
    xdotool.setProcessEnvironment(panel.processEnvironment());
    const QStringList mapped = mappedOnly ? QStringList{"--onlyvisible"} : QStringList{};
    xdotool.start("xdotool", QStringList{"search"} + mapped + QStringList{"--name", "^Palvo automation test$"});
    xdotool.waitForFinished(5000);
    return QString::fromUtf8(xdotool.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

QString TestPanelBinary::windowSize(const QString &window)
{
    QProcess xdotool;
    xdotool.setProcessEnvironment(panel.processEnvironment());
    xdotool.start("xdotool", {"getwindowgeometry", window});
    xdotool.waitForFinished(5000);
    const QString out = QString::fromUtf8(xdotool.readAllStandardOutput());
    return out.section("Geometry: ", 1).trimmed();
}

bool TestPanelBinary::waitForWindows(int count, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (visibleWindows().size() == count)
            return true;
        QThread::msleep(100);
    }
    return false;
}

QString TestPanelBinary::noWindow()
{
    panel.waitForReadyRead(100); // nothing is read from its pipe while the test sleeps
    return QString("no window; the panel %1, with %2 windows by that name, shown or not; its stderr: %3")
        .arg(panel.state() == QProcess::Running ? "runs" : "ended")
        .arg(visibleWindows(false).size())
        .arg(QString::fromLocal8Bit(panel.readAllStandardError()));
}

// To the window that has the keyboard focus, as a user would.
void TestPanelBinary::pressReturn()
{
    QProcess xdotool;
    xdotool.setProcessEnvironment(panel.processEnvironment());
    xdotool.start("xdotool", {"key", "Return"});
    xdotool.waitForFinished(5000);
}

// The "not loaded" message alone first; after OK, the panel alone.
void TestPanelBinary::messageThenPanel()
{
    QVERIFY2(waitForWindows(1), qPrintable(noWindow()));
    QTest::qWait(500);
    const QStringList message = visibleWindows();
    QCOMPARE(message.size(), 1);
    QVERIFY(windowSize(message[0]) != "336x184");

    pressReturn();
    QDeadlineTimer deadline(15000);
    QStringList shown = message;
    // Between the message going and the panel coming, no window may be shown for a moment.
    while (!deadline.hasExpired() && (shown == message || shown.isEmpty())) {
        QThread::msleep(100);
        shown = visibleWindows();
    }
    QCOMPARE(shown.size(), 1);
    QCOMPARE(windowSize(shown[0]), QStringLiteral("336x184"));
    QCOMPARE(panel.state(), QProcess::Running);
}

void TestPanelBinary::notLoadedMessageComesFirst()
{
    panel.start(PALVO_PANEL_PATH, {});
    QVERIFY(panel.waitForStarted(5000));
    messageThenPanel();
}

// A bus daemon that takes the connection and never answers: the attach gives up in about 2 s,
// not after the bus library's 25 s, nor never.
void TestPanelBinary::hungBusIsNoHost()
{
    ::kill(pid_t(bus->pid()), SIGSTOP);
    // The 2 s itself, timed here: the program's start-up, which a busy machine stretches, is not.
    const QByteArray address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus->address().toUtf8());
    QElapsedTimer clock;
    clock.start();
    const QString said = shutOutSilentSessionBus(contract::callTimeoutMs);
    const qint64 waited = clock.elapsed();
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    QVERIFY2(!said.isEmpty() && waited >= 1900 && waited < 2850, qPrintable(QString::number(waited) + ": " + said));

    clock.start();
    panel.start(PALVO_PANEL_PATH, {});
    QVERIFY(panel.waitForStarted(5000));
    QVERIFY2(waitForWindows(1), qPrintable(noWindow()));
    QVERIFY2(clock.elapsed() < 20000, qPrintable(QString::number(clock.elapsed())));
    messageThenPanel();
}

void TestPanelBinary::hostFailureEndsWithStatusOne()
{
    SimProcess sim(*bus);
    QVERIFY(sim.start());
    panel.start(PALVO_PANEL_PATH, {});
    QVERIFY(panel.waitForStarted(5000));
    QVERIFY(waitForWindows(1));
    QTest::qWait(1000);
    QCOMPARE(panel.state(), QProcess::Running);

    sim.kill();
    QByteArray errors;
    QDeadlineTimer deadline(15000);
    while (!errors.contains("Error ") && !deadline.hasExpired()) {
        panel.waitForReadyRead(100);
        errors += panel.readAllStandardError();
    }
    QTest::qWait(1500); // ticks keep coming; no second report may follow
    errors += panel.readAllStandardError();
    QCOMPARE(errors.count("Error "), 1);
    // Killed between ticks the host has no owner; killed while a read is in flight, the read
    // gets no reply. Either is the host gone, reported once.
    const bool hostGone = errors.contains("Error 1: org.freedesktop.DBus.Error.NameHasNoOwner")
        || errors.contains("Error 5: org.freedesktop.DBus.Error.NoReply: Message recipient disconnected");
    QVERIFY2(hostGone && errors.contains("The host program went away: start it, then the panel again. Error "),
             errors.constData());
    QCOMPARE(panel.state(), QProcess::Running); // waiting for the user

    pressReturn();
    QVERIFY(panel.waitForFinished(15000));
    QCOMPARE(panel.exitStatus(), QProcess::NormalExit);
    QCOMPARE(panel.exitCode(), 1);
}

// With no display to open the window on, one line says so, and the status is 1 (not an abort).
void TestPanelBinary::noDisplayEndsWithStatusOne()
{
    QProcessEnvironment env = panel.processEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(name);
    panel.setProcessEnvironment(env);
    panel.start(PALVO_PANEL_PATH, {});
    QVERIFY(panel.waitForFinished(10000));
    QCOMPARE(panel.exitStatus(), QProcess::NormalExit);
    QCOMPARE(panel.exitCode(), 1);
    const QByteArray said = panel.readAllStandardError();
    QVERIFY2(said.count('\n') == 1 && said.contains("no display to open the window on"), said.constData());
}

QTEST_GUILESS_MAIN(TestPanelBinary)
#include "tst_panel_binary.moc"
