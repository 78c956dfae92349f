#include "dbushost.h"
#include "form1.h"
#include "modalwatcher.h"
#include "privatebus.h"
#include "stderrcapture.h"
#include "xmlrpc.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

// The panel driving a real fldigi through palvo2-fldigi. Runs in a network namespace of its
// own (see tests/CMakeLists.txt), so fldigi's XML-RPC port is on no real interface.
class TestFldigi : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void panelDrivesFldigi();
    void fldigiKilledIsReportedOnce();

private:
    QTemporaryDir dir;
    QProcess xvfb, fldigi, bridge;
    std::unique_ptr<PrivateBus> bus;
    std::unique_ptr<XmlRpcClient> rpc;
    std::unique_ptr<Form1> form;
    QList<int> exits;
};

void TestFldigi::initTestCase()
{
    if (QStandardPaths::findExecutable("fldigi").isEmpty())
        QSKIP("fldigi is not installed");
    const QString display = QString(":%1").arg(300 + QRandomGenerator::global()->bounded(300));
    xvfb.start("Xvfb", {display, "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
    QVERIFY(xvfb.waitForStarted());
    QTest::qWait(800);

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
    env.insert("DISPLAY", display);
    fldigi.setProcessEnvironment(env);
    fldigi.setStandardOutputFile(QProcess::nullDevice());
    fldigi.setStandardErrorFile(QProcess::nullDevice());
    fldigi.start("fldigi", {"--config-dir", cfg, "--home-dir", home, "--xmlrpc-server-port", QString::number(port)});
    QVERIFY(fldigi.waitForStarted());

    const QString url = QString("http://127.0.0.1:%1/RPC2").arg(port);
    rpc = std::make_unique<XmlRpcClient>(QUrl(url), 1500);
    QString configDir;
    for (int i = 0; i < 100 && configDir.isEmpty(); ++i) {
        try {
            configDir = rpc->call("fldigi.config_dir").toString();
        } catch (const BridgeFailure &) {
            QTest::qWait(100);
        }
    }
    QCOMPARE(configDir, cfg); // our fldigi, no other

    bus = std::make_unique<PrivateBus>();
    QVERIFY(bus->isRunning());
    bridge.setProcessEnvironment(bus->environment());
    bridge.start(PALVO2_FLDIGI_PATH, {"--url", url});
    QVERIFY(bridge.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(bus->nameHasOwner("Palvo2.Application"), 5000);

    const PrivateBus *b = bus.get();
    form = std::make_unique<Form1>([b] { return std::unique_ptr<Host>(DBusHost::attach(b->connect("panel"))); });
    form->endProgram = [this](int code) { exits.append(code); };
    form->Form_Load();
    form->show();
    QVERIFY(form->hostLoaded);
}

void TestFldigi::cleanupTestCase()
{
    form.reset();
    for (QProcess *p : {&bridge, &fldigi, &xvfb}) {
        p->kill();
        p->waitForFinished(3000);
    }
    bus.reset();
}

void TestFldigi::panelDrivesFldigi()
{
    form->Combo1->setCurrentText("RTTY"); // a modem change resets the carrier: mode first
    form->Command6->click();
    QTRY_COMPARE_WITH_TIMEOUT(form->Label8->text(), QStringLiteral("RTTY"), 3000);

    form->Text2->setText("1500");
    form->Command2->click();
    QTRY_COMPARE_WITH_TIMEOUT(rpc->call("modem.get_carrier").toInt(), 1500, 3000);
    QTRY_COMPARE_WITH_TIMEOUT(form->Label6->text(), QStringLiteral("1500 Hz"), 3000);

    form->Text3->setText("7074");
    form->Command3->click();
    QTRY_COMPARE_WITH_TIMEOUT(form->Label7->text(), QStringLiteral("7074 kHz"), 3000);

    form->Command5->click();
    QTRY_COMPARE_WITH_TIMEOUT(rpc->call("main.get_trx_state").toString(), QStringLiteral("TX"), 3000);
    form->Command4->click();
    QTRY_COMPARE_WITH_TIMEOUT(rpc->call("main.get_trx_state").toString(), QStringLiteral("RX"), 6000);
    QTRY_COMPARE_WITH_TIMEOUT(rpc->call("rx.get_data").toString(), QString(), 3000);
    QVERIFY(exits.isEmpty());
}

void TestFldigi::fldigiKilledIsReportedOnce()
{
    ModalWatcher watcher;
    StderrCapture capture;
    fldigi.kill();
    QTRY_COMPARE_WITH_TIMEOUT(exits.size(), 1, 5000);
    QTest::qWait(1000);
    capture.text();
    QCOMPARE(exits, QList<int>{1});
    QCOMPARE(watcher.texts.size(), 1);
    QVERIFY2(watcher.texts[0].contains("fldigi is not answering at"), qPrintable(watcher.texts[0]));
    QCOMPARE(bridge.state(), QProcess::Running); // the bridge itself keeps going
}

QTEST_MAIN(TestFldigi)
#include "tst_fldigi.moc"
