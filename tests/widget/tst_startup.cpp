// SPDX-License-Identifier: GPL-3.0-or-later
#include "fakehost.h"
#include "form1.h"
#include "modalwatcher.h"

#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void hostRunning();
    void hostNotRunning();
    void hostAttachGivesNothing();
    void ticksAndClicksWhileTheMessageIsOpen();
    void closeReleasesTheHost();
    void closeDetached();

private:
    static void checkModeList(Form1 &form);
};

void TestStartup::checkModeList(Form1 &form)
{
    const QStringList expected = {"SSB",    "AM",    "FM",   "CW",    "BPSK31", "QPSK31",
                                  "FSK31",  "RTTY",  "PACKET", "PACTOR", "AMTOR", "MFSK",
                                  "THROB",  "MT63",  "HELL", "FAX",   "SSTV"};
    QStringList entries;
    for (int i = 0; i < form.Combo1->count(); ++i)
        entries.append(form.Combo1->itemText(i));
    QCOMPARE(entries, expected);
    QCOMPARE(form.Combo1->currentIndex(), 0);
    QCOMPARE(form.Combo1->currentText(), QStringLiteral("SSB"));
}

void TestStartup::hostRunning()
{
    auto state = runningHost();
    ModalWatcher watcher;
    Form1 form(attachTo(state));
    QVERIFY(!form.hostLoaded);
    QVERIFY(!form.host);
    form.Form_Load();
    QVERIFY(watcher.texts.isEmpty());
    QVERIFY(form.hostLoaded);
    QVERIFY(form.host);
    QCOMPARE(state->attaches, 1);
    checkModeList(form);
}

void TestStartup::hostNotRunning()
{
    Form1 form(noHostRunning());
    bool panelShownWhileMessageOpen = true;
    bool loadedWhileMessageOpen = false;
    ModalWatcher watcher([&](QMessageBox *) {
        panelShownWhileMessageOpen = form.isVisible();
        loadedWhileMessageOpen = form.hostLoaded;
    });
    form.Form_Load();

    QCOMPARE(watcher.texts, QStringList{QStringLiteral("Palvo2 is not loaded")});
    QCOMPARE(watcher.titles, QStringList{QStringLiteral("Palvo automation test")});
    QCOMPARE(watcher.icons, QList<int>{QMessageBox::NoIcon});
    QCOMPARE(watcher.buttons, QList<int>{QMessageBox::Ok});
    QVERIFY(!panelShownWhileMessageOpen);
    QVERIFY(loadedWhileMessageOpen); // false only once the message is dismissed
    QVERIFY(!form.hostLoaded);
    QVERIFY(!form.host);
    checkModeList(form);
}

void TestStartup::hostAttachGivesNothing()
{
    ModalWatcher watcher;
    Form1 form([]() -> std::unique_ptr<Host> { return nullptr; });
    form.Form_Load();
    QCOMPARE(watcher.texts.size(), 1);
    QVERIFY(!form.hostLoaded);
}

// Timer1 ticks inside the message's event loop, with hostLoaded still true and no host.
void TestStartup::ticksAndClicksWhileTheMessageIsOpen()
{
    Form1 form(noHostRunning());
    int ended = 0;
    form.endProgram = [&](int) { ++ended; };
    QSignalSpy ticks(form.Timer1, &QTimer::timeout);
    ModalWatcher watcher([&](QMessageBox *) {
        static_cast<void>(QTest::qWaitFor([&] { return ticks.count() >= 2; }, 10000)); // checked below
        form.Command5_Click();
        form.Command1_Click();
    });
    form.Form_Load();

    QVERIFY2(ticks.count() >= 2, qPrintable(QString::number(ticks.count())));
    QCOMPARE(watcher.texts.size(), 1);
    QCOMPARE(ended, 0);
    QCOMPARE(form.Label6->text(), QStringLiteral("1000 Hz"));
    QCOMPARE(form.Label7->text(), QStringLiteral("14100 kHz"));
    QCOMPARE(form.Label8->text(), QStringLiteral("BPSK31"));
}

void TestStartup::closeReleasesTheHost()
{
    auto state = runningHost();
    Form1 form(attachTo(state));
    form.Form_Load();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QVERIFY(!state->released);
    QVERIFY(form.close());
    QVERIFY(state->released);
    QVERIFY(!form.host);
    QVERIFY(form.hostLoaded); // left as it was
}

void TestStartup::closeDetached()
{
    ModalWatcher watcher;
    Form1 form(noHostRunning());
    form.Form_Load();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QVERIFY(form.close());
    QVERIFY(!form.isVisible());
    QVERIFY(!form.hostLoaded);
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
