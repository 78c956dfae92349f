// SPDX-License-Identifier: GPL-3.0-or-later
#include "fakehost.h"
#include "form1.h"
#include "modalwatcher.h"
#include "stderrcapture.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using Call = QPair<QString, QString>;

namespace {

Call macro(const QString &text)
{
    return {QStringLiteral("ExecuteMacros"), text};
}

} // namespace

class TestCommandButtons : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void initialTexts_data();
    void initialTexts();
    void typedTextGoesAsTyped_data();
    void typedTextGoesAsTyped();
    void modeFollowsTheChoice();
    void oneCallPerClick();
    void detachedPanelSendsNothing();
    void failingCallIsReportedOnce_data();
    void failingCallIsReportedOnce();

private:
    std::shared_ptr<FakeHostState> state;
    std::unique_ptr<Form1> form;
};

void TestCommandButtons::init()
{
    state = runningHost();
    form = std::make_unique<Form1>(attachTo(state));
    form->Timer1->stop(); // clicks only
    form->Form_Load();
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
}

void TestCommandButtons::cleanup()
{
    form.reset();
}

void TestCommandButtons::initialTexts_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("sent");
    QTest::newRow("Run") << "Command1" << "<CLEARTXWINDOW><CLEARRXWINDOW>";
    QTest::newRow("Set audio") << "Command2" << "<AUDIOFQ:1000>";
    QTest::newRow("Set rig") << "Command3" << "<ZFQ:14100>";
    QTest::newRow("RX") << "Command4" << "<RXANDCLEAR>";
    QTest::newRow("TX") << "Command5" << "<TX>";
    QTest::newRow("Set mode") << "Command6" << "<MODE:SSB>";
}

void TestCommandButtons::initialTexts()
{
    QFETCH(QString, button);
    QFETCH(QString, sent);
    QTest::mouseClick(form->findChild<QPushButton *>(button), Qt::LeftButton);
    QCOMPARE(state->calls, QList<Call>{macro(sent)});
}

void TestCommandButtons::typedTextGoesAsTyped_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("sent");
    QTest::newRow("empty audio") << "Text2" << "" << "Command2" << "<AUDIOFQ:>";
    QTest::newRow("audio with spaces and letters") << "Text2" << " 12 abc " << "Command2"
                                                   << "<AUDIOFQ: 12 abc >";
    QTest::newRow("rig with a fraction") << "Text3" << "7074.15" << "Command3" << "<ZFQ:7074.15>";
    QTest::newRow("rig lower case") << "Text3" << "seven" << "Command3" << "<ZFQ:seven>";
    QTest::newRow("empty macro") << "Text1" << "" << "Command1" << "";
    QTest::newRow("macro as typed") << "Text1" << "cq <tx> <MODE:RTTY> " << "Command1"
                                    << "cq <tx> <MODE:RTTY> ";
}

void TestCommandButtons::typedTextGoesAsTyped()
{
    QFETCH(QString, box);
    QFETCH(QString, typed);
    QFETCH(QString, button);
    QFETCH(QString, sent);
    auto *edit = form->findChild<QLineEdit *>(box);
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, typed);
    QTest::mouseClick(form->findChild<QPushButton *>(button), Qt::LeftButton);
    QCOMPARE(state->calls, QList<Call>{macro(sent)});
}

void TestCommandButtons::modeFollowsTheChoice()
{
    form->Combo1->setFocus();
    QTest::keyClick(form->Combo1, Qt::Key_Down); // SSB -> AM
    form->Command6->click();
    form->Combo1->setCurrentIndex(7);
    form->Command6->click();
    form->Combo1->setCurrentIndex(16);
    form->Command6->click();
    QCOMPARE(state->calls,
             (QList<Call>{macro("<MODE:AM>"), macro("<MODE:RTTY>"), macro("<MODE:SSTV>")}));
}

void TestCommandButtons::oneCallPerClick()
{
    for (int i = 0; i < 3; ++i)
        QTest::mouseClick(form->Command5, Qt::LeftButton);
    QTest::keyClick(form->Command4, Qt::Key_Space);
    QCOMPARE(state->calls,
             (QList<Call>{macro("<TX>"), macro("<TX>"), macro("<TX>"), macro("<RXANDCLEAR>")}));
    QVERIFY(state->reads.isEmpty()); // a click reads nothing back
}

// A host that starts after the panel's one try to attach is never sent anything.
void TestCommandButtons::detachedPanelSendsNothing()
{
    ModalWatcher watcher;
    bool hostRuns = false;
    Form1 detached([&]() -> std::unique_ptr<Host> {
        if (!std::exchange(hostRuns, true))
            throw HostFailure{HostFailure::NoHost, QStringLiteral("No host runs yet")};
        return attachTo(state)();
    });
    detached.Form_Load();
    detached.show();
    QVERIFY(QTest::qWaitForWindowExposed(&detached));
    for (auto *button : detached.findChildren<QPushButton *>())
        QTest::mouseClick(button, Qt::LeftButton);
    QTest::qWait(700); // and a tick
    QCOMPARE(watcher.texts.size(), 1); // the not-loaded message only
    QCOMPARE(state->attaches, 1); // the running panel's, from init()
    QVERIFY(state->calls.isEmpty());
    QVERIFY(state->reads.isEmpty());
}

// A failure is reported once, while the box is open nothing reaches the host, and the panel
// ends; a refusal (nothing of the call carried out) is reported the same way, and the panel goes on.
void TestCommandButtons::failingCallIsReportedOnce_data()
{
    QTest::addColumn<HostFailure>("failure");
    QTest::addColumn<QString>("line");
    QTest::newRow("a failure") << HostFailure{4, "org.freedesktop.DBus.Error.ServiceUnknown: The name is gone"}
                               << "The host program went away: start it, then the panel again.\n\n"
                                  "Error 4: org.freedesktop.DBus.Error.ServiceUnknown: The name is gone";
    QTest::newRow("a call that failed") << HostFailure{2, "org.freedesktop.DBus.Error.Failed: <TX>: no answer"}
                                        << "The host program could not do what the panel asked.\n\n"
                                           "Error 2: org.freedesktop.DBus.Error.Failed: <TX>: no answer";
    QTest::newRow("a refusal") << HostFailure{1, "Palvo2.Application.Error.Refused: <MODE:SSB>: WSJT-X has no mode SSB", true}
                               << "The host program declined the command and carried out none of it.\n\n"
                                  "Error 1: Palvo2.Application.Error.Refused: <MODE:SSB>: WSJT-X has no mode SSB";
}

void TestCommandButtons::failingCallIsReportedOnce()
{
    QFETCH(HostFailure, failure);
    QFETCH(QString, line);
    state->failures["ExecuteMacros"] = failure;
    QList<int> exits;
    form->endProgram = [&](int code) { exits.append(code); };
    ModalWatcher watcher([&](QMessageBox *) {
        form->Command5->click();
        form->Timer1_Timer();
    });
    StderrCapture capture;
    QTest::mouseClick(form->Command2, Qt::LeftButton);
    const QString err = QString::fromLocal8Bit(capture.text());

    QCOMPARE(watcher.texts, QStringList{line});
    QCOMPARE(err, QString(line).replace("\n\n", " ") + "\n");
    QCOMPARE(exits, failure.refused ? QList<int>{} : QList<int>{1});
    QCOMPARE(state->calls, QList<Call>{macro("<AUDIOFQ:1000>")});
    QVERIFY(state->reads.isEmpty());
    QCOMPARE(form->Timer1->isActive(), failure.refused);
    if (failure.refused) { // the next poll runs
        form->Timer1_Timer();
        QVERIFY(!state->reads.isEmpty());
    }
}

QTEST_MAIN(TestCommandButtons)
#include "tst_commandbuttons.moc"
