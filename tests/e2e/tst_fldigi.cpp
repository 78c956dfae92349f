// SPDX-License-Identifier: GPL-3.0-or-later
#include "dbushost.h"
#include "form1.h"
#include "modalwatcher.h"
#include "privatebus.h"
#include "stderrcapture.h"
#include "virtualdisplay.h"
#include "fldigiclient.h"
#include "presence.h"
#include "hostfailure.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QDeadlineTimer>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

#include <csignal>

// The panel driving a real fldigi through palvo2-fldigi. Runs in a network namespace of its
// own (see tests/CMakeLists.txt), so fldigi's XML-RPC port is on no real interface.
class TestFldigi : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void panelDrivesFldigi();
    void receiveAfterTheText();
    void stoppedFldigiNeverEndsTransmitting();
    void fldigiKilledIsReportedOnce();

private:
    QTemporaryDir dir;
    VirtualDisplay display;
    TiedProcess fldigi, bridge;
    std::unique_ptr<PrivateBus> bus;
    QVariant ask(const QString &method);
    QString trxState() { return ask("main.get_trx_state").toString(); }
    Presence presence;
    std::unique_ptr<FldigiClient> rpc;
    std::unique_ptr<Host> script; // a second client of the bridge, as a script would be
    std::unique_ptr<Form1> form;
    QList<int> exits;
};

// fldigi itself, as the test looks at it: the answer, or an invalid value.
QVariant TestFldigi::ask(const QString &method)
{
    QEventLoop loop;
    QVariant answer;
    rpc->call(FldigiClient::Request::call(method, {}, xmlrpc::Expect::Anything), [&](const QVariant &value) {
        answer = value;
        loop.quit();
    }, [&](const BridgeFailure &) { loop.quit(); });
    QTimer::singleShot(2000, &loop, [&] {
        rpc->cancel(false);
        loop.quit();
    });
    loop.exec();
    return answer;
}

void TestFldigi::initTestCase()
{
    if (QStandardPaths::findExecutable("fldigi").isEmpty())
        QSKIP("fldigi is not installed");
    QVERIFY(display.start());

    const QString cfg = dir.filePath("cfg/"), home = dir.filePath("home/");
    QDir().mkpath(cfg);
    QDir().mkpath(home);
    QFile defs(cfg + "fldigi_def.xml"); // skips the first-run wizard
    QVERIFY(defs.open(QIODevice::WriteOnly));
    defs.write("<FLDIGI_DEFS></FLDIGI_DEFS>\n");
    defs.close();
    const int port = 20000 + QRandomGenerator::global()->bounded(20000);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home);
    env.insert("DISPLAY", display.name());
    fldigi.setProcessEnvironment(env);
    fldigi.setStandardOutputFile(QProcess::nullDevice());
    fldigi.setStandardErrorFile(QProcess::nullDevice());
    fldigi.start("fldigi", {"--config-dir", cfg, "--home-dir", home, "--xmlrpc-server-port", QString::number(port)});
    QVERIFY(fldigi.waitForStarted());

    const QString url = QString("http://127.0.0.1:%1/RPC2").arg(port);
    rpc = std::make_unique<FldigiClient>(QUrl(url), presence);
    // How long fldigi takes to start is not what this test is about: a busy machine gets time.
    QString configDir;
    QDeadlineTimer started(60000);
    while (configDir.isEmpty() && !started.hasExpired() && fldigi.state() == QProcess::Running) {
        configDir = ask("fldigi.config_dir").toString();
        if (configDir.isEmpty())
            QTest::qWait(200);
    }
    QCOMPARE(configDir, cfg); // our fldigi, no other

    bus = std::make_unique<PrivateBus>();
    QVERIFY(bus->isRunning());
    bridge.setProcessEnvironment(bus->environment());
    bridge.start(PALVO2_FLDIGI_PATH, {"--url", url});
    QVERIFY(bridge.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(bus->nameHasOwner("Palvo2.Application"), 15000);

    const PrivateBus *b = bus.get();
    form = std::make_unique<Form1>([b] { return std::unique_ptr<Host>(DBusHost::attach(b->connect("panel"))); });
    form->endProgram = [this](int code) { exits.append(code); };
    form->Form_Load();
    form->show();
    QVERIFY(form->hostLoaded);
    script = DBusHost::attach(bus->connect("script"));
}

void TestFldigi::cleanupTestCase()
{
    script.reset();
    form.reset();
    for (QProcess *p : {&bridge, &fldigi}) {
        p->kill();
        p->waitForFinished(3000);
    }
    bus.reset();
}

void TestFldigi::panelDrivesFldigi()
{
    script->call("ExecuteMacros", "<MODE:AM>"); // a digital mode must not leave the rig in AM
    QCOMPARE(ask("rig.get_mode").toString(), QStringLiteral("AM"));
    form->Combo1->setCurrentText("RTTY"); // a modem change resets the carrier: mode first
    form->Command6->click();
    QTRY_COMPARE_WITH_TIMEOUT(form->Label8->text(), QStringLiteral("RTTY"), 10000);
    QCOMPARE(ask("rig.get_mode").toString(), QStringLiteral("USB"));

    form->Text2->setText("1500");
    form->Command2->click();
    QCOMPARE(ask("modem.get_carrier").toInt(), 1500); // carried out when the click returns
    QTRY_COMPARE_WITH_TIMEOUT(form->Label6->text(), QStringLiteral("1500 Hz"), 10000);

    form->Text3->setText("7074");
    form->Command3->click();
    QTRY_COMPARE_WITH_TIMEOUT(form->Label7->text(), QStringLiteral("7074 kHz"), 10000);

    // TX, then RX: back to receive, and the receive text left as it was.
    const int received = ask("text.get_rx_length").toInt();
    form->Command5->click();
    QCOMPARE(trxState(), QStringLiteral("TX"));
    QTRY_VERIFY_WITH_TIMEOUT(script->read("Transmitting").toBool(), 2000); // within the view's second
    form->Command4->click();
    QCOMPARE(trxState(), QStringLiteral("RX"));
    QVERIFY(ask("text.get_rx_length").toInt() >= received);
    QVERIFY(exits.isEmpty());

    // A mode read back is among Modes, and set again as it reads: fldigi's own names too.
    const QStringList modes = script->read("Modes").toStringList();
    for (const QString mode : {"MT63", "BPSK63"}) {
        QVERIFY2(modes.contains(mode), qPrintable(modes.join(' ')));
        script->call("ExecuteMacros", "<MODE:" + mode + ">");
        const QString shown = script->read("Mode").toString();
        QVERIFY2(modes.contains(shown), qPrintable(shown));
        script->call("ExecuteMacros", "<MODE:" + shown + ">");
        QCOMPARE(ask("modem.get_name").toString(), shown);
    }
}

void TestFldigi::receiveAfterTheText()
{
    script->call("ExecuteMacros", "<CLEARTXWINDOW>k<TX><RX>");
    QCOMPARE(trxState(), QStringLiteral("TX"));
    QTRY_COMPARE_WITH_TIMEOUT(trxState(), QStringLiteral("RX"), 20000);
}

// A <TX> that a stopped fldigi cannot take fails in time; when fldigi resumes and keys, the
// bridge puts it back to receive.
void TestFldigi::stoppedFldigiNeverEndsTransmitting()
{
    form->Timer1->stop(); // the panel would end at its first failed read
    ::kill(pid_t(fldigi.processId()), SIGSTOP);
    QElapsedTimer clock;
    clock.start();
    QVERIFY_THROWS_EXCEPTION(HostFailure, script->call("ExecuteMacros", "<TX>"));
    QVERIFY2(clock.elapsed() < 1950, qPrintable(QString::number(clock.elapsed()))); // 1800, not the panel's 2000
    QTest::qWait(1000);
    ::kill(pid_t(fldigi.processId()), SIGCONT);
    QByteArray said;
    QTRY_VERIFY2_WITH_TIMEOUT((said += bridge.readAllStandardError()).contains("is in receive after the call that failed"),
                              said.constData(), 20000);
    for (int i = 0; i < 10; ++i) {
        QCOMPARE(trxState(), QStringLiteral("RX"));
        QTest::qWait(300);
    }
}

void TestFldigi::fldigiKilledIsReportedOnce()
{
    form->Timer1->start();
    ModalWatcher watcher;
    StderrCapture capture;
    QElapsedTimer clock;
    fldigi.kill();
    QTRY_COMPARE_WITH_TIMEOUT(exits.size(), 1, 10000);
    QTest::qWait(1000);
    capture.text();
    QCOMPARE(exits, QList<int>{1});
    QCOMPARE(watcher.texts.size(), 1);
    QVERIFY2(watcher.texts[0].contains("fldigi is not running at") || watcher.texts[0].contains("broke during"),
             qPrintable(watcher.texts[0]));
    QCOMPARE(bridge.state(), QProcess::Running); // the bridge itself keeps going

    clock.start();
    try {
        script->call("ExecuteMacros", "<TX>");
        QFAIL("a <TX> with fldigi gone succeeded");
    } catch (const HostFailure &failure) {
        QVERIFY2(failure.text.contains("<TX>: fldigi is not running at"), qPrintable(failure.text));
    }
    QVERIFY2(clock.elapsed() < 650, qPrintable(QString::number(clock.elapsed()))); // refused at once, not timed out
}

QTEST_MAIN(TestFldigi)
#include "tst_fldigi.moc"
