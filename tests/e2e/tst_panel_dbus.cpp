// SPDX-License-Identifier: GPL-3.0-or-later
#include "contract.h"
#include "dbushost.h"
#include "form1.h"
#include "modalwatcher.h"
#include "privatebus.h"
#include "stderrcapture.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <csignal>

// The panel attached to palvo2-sim over a private bus, as a user runs it.
class TestPanelDBus : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void labelsFollowTheHost();
    void buttonsDriveTheHost();
    void refusalLeavesThePanelRunning();
    void hostKilledIsReportedOnce();
    void hostStoppedIsReportedAfterTimeout();

private:
    void startPanel();

    std::unique_ptr<PrivateBus> bus;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<Form1> form;
    QList<int> exits;
};

void TestPanelDBus::init()
{
    bus = std::make_unique<PrivateBus>();
    QVERIFY(bus->isRunning());
    sim = std::make_unique<SimProcess>(*bus);
    QVERIFY(sim->start());
    exits.clear();
}

void TestPanelDBus::startPanel()
{
    const PrivateBus *b = bus.get();
    form = std::make_unique<Form1>([b] { return std::unique_ptr<Host>(DBusHost::attach(b->connect("panel"))); });
    form->endProgram = [this](int code) { exits.append(code); };
    form->Form_Load();
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    QVERIFY(form->hostLoaded);
}

void TestPanelDBus::cleanup()
{
    form.reset();
    sim.reset();
    bus.reset();
}

void TestPanelDBus::labelsFollowTheHost()
{
    startPanel();
    // Another client changes the host; the panel follows at its next ticks.
    auto other = DBusHost::attach(bus->connect("other"));
    other->call("ExecuteMacros", "<AUDIOFQ:1234><ZFQ:7074.15><MODE:RTTY>");
    QTRY_COMPARE_WITH_TIMEOUT(form->Label6->text(), QStringLiteral("1234 Hz"), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(form->Label7->text(), QStringLiteral("7074.15 kHz"), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(form->Label8->text(), QStringLiteral("RTTY"), 10000);
    QVERIFY(exits.isEmpty());
}

void TestPanelDBus::buttonsDriveTheHost()
{
    startPanel();
    form->Text2->setText("1234");
    QTest::mouseClick(form->Command2, Qt::LeftButton);
    QVERIFY(sim->waitForMacro("<AUDIOFQ:1234>"));
    QTRY_COMPARE_WITH_TIMEOUT(form->Label6->text(), QStringLiteral("1234 Hz"), 10000);

    form->Text3->setText("7074");
    QTest::mouseClick(form->Command3, Qt::LeftButton);
    form->Combo1->setCurrentText("MFSK");
    QTest::mouseClick(form->Command6, Qt::LeftButton);
    QTest::mouseClick(form->Command5, Qt::LeftButton);
    QTest::mouseClick(form->Command4, Qt::LeftButton);
    QTest::mouseClick(form->Command1, Qt::LeftButton);
    QVERIFY(sim->waitForMacro("<CLEARTXWINDOW><CLEARRXWINDOW>"));
    QCOMPARE(sim->macros(), (QStringList{"<AUDIOFQ:1234>", "<ZFQ:7074>", "<MODE:MFSK>", "<TX>",
                                         "<RXANDCLEAR>", "<CLEARTXWINDOW><CLEARRXWINDOW>"}));
    QTRY_COMPARE_WITH_TIMEOUT(form->Label7->text(), QStringLiteral("7074 kHz"), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(form->Label8->text(), QStringLiteral("MFSK"), 10000);
    QVERIFY(exits.isEmpty());
}

// A mode the host lacks is declined before anything is carried out: one box, and the panel goes
// on polling.
void TestPanelDBus::refusalLeavesThePanelRunning()
{
    startPanel();
    ModalWatcher watcher;
    form->Text1->setText("<MODE:FT8>");
    QTest::mouseClick(form->Command1, Qt::LeftButton);
    QCOMPARE(watcher.texts.size(), 1);
    QVERIFY2(watcher.texts[0].startsWith("The host program declined the command and carried out none of it.\n\n"
                                        "Error 1: Palvo2.Application.Error.Refused: <MODE:FT8>: palvo2-sim has no mode FT8"),
             qPrintable(watcher.texts[0]));
    DBusHost::attach(bus->connect("script"))->call(contract::executeMacros, "<AUDIOFQ:1777>");
    QTRY_COMPARE_WITH_TIMEOUT(form->Label6->text(), QStringLiteral("1777 Hz"), 10000);
    QCOMPARE(watcher.texts.size(), 1);
    QVERIFY(exits.isEmpty());
}

void TestPanelDBus::hostKilledIsReportedOnce()
{
    startPanel();
    ModalWatcher watcher;
    StderrCapture capture;
    sim->kill();
    QTRY_COMPARE_WITH_TIMEOUT(exits.size(), 1, 10000);
    QTest::qWait(1200);
    const QString err = QString::fromLocal8Bit(capture.text());
    QCOMPARE(exits, QList<int>{1});
    QCOMPARE(watcher.texts.size(), 1);
    // What happened in words, then what a bug report needs; stderr has both on one line.
    QVERIFY2(watcher.texts[0].startsWith("The host program went away: start it, then the panel again.\n\n"
                                         "Error 1: org.freedesktop.DBus.Error.NameHasNoOwner"),
             qPrintable(watcher.texts[0]));
    QCOMPARE(err, QString(watcher.texts[0]).replace("\n\n", " ") + "\n");
}

void TestPanelDBus::hostStoppedIsReportedAfterTimeout()
{
    startPanel();
    QTRY_COMPARE_WITH_TIMEOUT(form->Label8->text(), QStringLiteral("BPSK31"), 10000);
    form->Timer1->stop(); // the tick below is timed from its start
    qint64 reportedAfter = -1;
    QElapsedTimer clock;
    ModalWatcher watcher([&](QMessageBox *) { reportedAfter = clock.elapsed(); });
    StderrCapture capture;
    ::kill(pid_t(sim->pid()), SIGSTOP);
    clock.start();
    form->Timer1_Timer();
    capture.text();
    QCOMPARE(exits, QList<int>{1});
    QCOMPARE(watcher.texts.size(), 1);
    QVERIFY2(watcher.texts[0].startsWith("The host program did not answer in time.\n\nError 5: org.freedesktop.DBus.Error.NoReply"),
             qPrintable(watcher.texts[0]));
    // The 2 s timeout of the first read, not 3 s.
    QVERIFY2(reportedAfter >= 1900 && reportedAfter < 2850, qPrintable(QString::number(reportedAfter)));
}

QTEST_MAIN(TestPanelDBus)
#include "tst_panel_dbus.moc"
