// SPDX-License-Identifier: GPL-3.0-or-later
#include "fakehost.h"
#include "form1.h"
#include "modalwatcher.h"
#include "stderrcapture.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {

QStringList labels(const Form1 &form)
{
    return {form.Label6->text(), form.Label7->text(), form.Label8->text()};
}

const QStringList designCaptions = {"1000 Hz", "14100 kHz", "BPSK31"};

} // namespace

class TestStatusPoll : public QObject
{
    Q_OBJECT

private slots:
    void labelsShowTheHost_data();
    void labelsShowTheHost();
    void readsInOrderEveryTick();
    void failingRead_data();
    void failingRead();
    void detachedPanelNeverReads();
    void failureIsReportedOnceAndEnds();
};

void TestStatusPoll::labelsShowTheHost_data()
{
    QTest::addColumn<QVariant>("audio");
    QTest::addColumn<QVariant>("rig");
    QTest::addColumn<QVariant>("mode");
    QTest::addColumn<QStringList>("shown");

    QTest::newRow("integers") << QVariant(1500) << QVariant(7074000) << QVariant("RTTY")
                              << QStringList{"1500 Hz", "7074 kHz", "RTTY"};
    QTest::newRow("doubles") << QVariant(1500.0) << QVariant(14100000.0) << QVariant("CW")
                             << QStringList{"1500 Hz", "14100 kHz", "CW"};
    QTest::newRow("fractional kHz") << QVariant(1000) << QVariant(14100150.0) << QVariant("AM")
                                    << QStringList{"1000 Hz", "14100.15 kHz", "AM"};
    QTest::newRow("fractional Hz") << QVariant(1000.5) << QVariant(14100000.5) << QVariant("FM")
                                   << QStringList{"1000.5 Hz", "14100.0005 kHz", "FM"};
    QTest::newRow("texts as they stand")
        << QVariant(" 1 200 ") << QVariant("14100150") << QVariant("<b>Mode</b> & more")
        << QStringList{" 1 200  Hz", "14100.15 kHz", "<b>Mode</b> & more"};
    QTest::newRow("empty values") << QVariant() << QVariant() << QVariant()
                                  << QStringList{" Hz", "0 kHz", ""};
    QTest::newRow("byte and booleans") << QVariant::fromValue<uchar>(65) << QVariant::fromValue<uchar>(0)
                                       << QVariant(true) << QStringList{"65 Hz", "0 kHz", "True"};
}

void TestStatusPoll::labelsShowTheHost()
{
    QFETCH(QVariant, audio);
    QFETCH(QVariant, rig);
    QFETCH(QVariant, mode);
    QFETCH(QStringList, shown);

    auto state = runningHost();
    state->values = {{"AudioFq", audio}, {"FqA", rig}, {"Mode", mode}};
    Form1 form(attachTo(state));
    form.Form_Load();
    QCOMPARE(labels(form), designCaptions); // nothing shown before the first poll
    form.Timer1_Timer();
    QCOMPARE(labels(form), shown);
}

void TestStatusPoll::readsInOrderEveryTick()
{
    auto state = runningHost();
    Form1 form(attachTo(state));
    form.Form_Load();
    state->values["AudioFq"] = 1200;
    QTRY_COMPARE_WITH_TIMEOUT(form.Label6->text(), QStringLiteral("1200 Hz"), 10000);
    state->reads.clear();
    form.Timer1_Timer();
    form.Timer1_Timer();
    QCOMPARE(state->reads, (QStringList{"AudioFq", "FqA", "Mode", "AudioFq", "FqA", "Mode"}));
}

void TestStatusPoll::failingRead_data()
{
    QTest::addColumn<QString>("failing");
    QTest::addColumn<QVariant>("badMode");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QStringList>("reads");

    QTest::newRow("first read fails") << "AudioFq" << QVariant("RTTY") << designCaptions
                                      << QStringList{"AudioFq"};
    QTest::newRow("second read fails") << "FqA" << QVariant("RTTY")
                                       << QStringList{"1500 Hz", "14100 kHz", "BPSK31"}
                                       << QStringList{"AudioFq", "FqA"};
    QTest::newRow("third read fails") << "Mode" << QVariant("RTTY")
                                      << QStringList{"1500 Hz", "7074 kHz", "BPSK31"}
                                      << QStringList{"AudioFq", "FqA", "Mode"};
    QTest::newRow("null mode") << "" << QVariant::fromValue(nullptr)
                               << QStringList{"1500 Hz", "7074 kHz", "BPSK31"}
                               << QStringList{"AudioFq", "FqA", "Mode"};
    QTest::newRow("list mode") << "" << QVariant(QVariantList{1})
                               << QStringList{"1500 Hz", "7074 kHz", "BPSK31"}
                               << QStringList{"AudioFq", "FqA", "Mode"};
}

void TestStatusPoll::failingRead()
{
    QFETCH(QString, failing);
    QFETCH(QVariant, badMode);
    QFETCH(QStringList, shown);
    QFETCH(QStringList, reads);

    auto state = runningHost();
    state->values = {{"AudioFq", 1500}, {"FqA", 7074000}, {"Mode", badMode}};
    if (!failing.isEmpty())
        state->failures[failing] = HostFailure{4, "org.freedesktop.DBus.Error.ServiceUnknown: gone"};
    Form1 form(attachTo(state));
    form.Timer1->stop(); // only the tick below
    form.endProgram = [](int) {};
    form.Form_Load();

    ModalWatcher watcher;
    StderrCapture capture;
    form.Timer1_Timer();
    capture.text();
    QCOMPARE(labels(form), shown);
    QCOMPARE(state->reads, reads);
    QCOMPARE(watcher.texts.size(), 1);
}

void TestStatusPoll::detachedPanelNeverReads()
{
    auto state = runningHost();
    ModalWatcher watcher;
    Form1 form([state]() -> std::unique_ptr<Host> {
        ++state->attaches;
        throw HostFailure{HostFailure::NoHost, "none"};
    });
    form.Form_Load();
    QCOMPARE(watcher.texts.size(), 1);
    for (int i = 0; i < 5; ++i)
        form.Timer1_Timer();
    QTest::qWait(1200); // and real ticks
    QVERIFY(form.Timer1->isActive());
    QCOMPARE(labels(form), designCaptions);
    QVERIFY(state->reads.isEmpty());
    QCOMPARE(watcher.texts.size(), 1);
}

void TestStatusPoll::failureIsReportedOnceAndEnds()
{
    auto state = runningHost();
    state->failures["FqA"] = HostFailure{5, "org.freedesktop.DBus.Error.NoReply: <a href=\"https://x.org\">why</a>"};
    Form1 form(attachTo(state));
    QList<int> exits;
    form.endProgram = [&](int code) { exits.append(code); };
    form.Form_Load();
    form.show();

    int readsWhileOpen = -1;
    ModalWatcher watcher([&](QMessageBox *) {
        const qsizetype before = state->reads.size();
        form.Timer1_Timer();
        form.Timer1_Timer();
        form.Command2_Click();
        QTest::qWait(1200);
        readsWhileOpen = int(state->reads.size() - before);
    });
    StderrCapture capture;
    QTRY_COMPARE_WITH_TIMEOUT(exits.size(), 1, 10000);
    const QString err = QString::fromLocal8Bit(capture.text());

    const QString line = "The host program did not answer in time.\n\n"
                         "Error 5: org.freedesktop.DBus.Error.NoReply: <a href=\"https://x.org\">why</a>";
    QCOMPARE(watcher.texts, QStringList{line});
    QCOMPARE(watcher.formats, QList<Qt::TextFormat>{Qt::PlainText}); // shown as it stands, no live link
    QCOMPARE(watcher.titles, QStringList{"Palvo automation test"});
    QCOMPARE(watcher.buttons, QList<int>{QMessageBox::Ok});
    QCOMPARE(err, QString(line).replace("\n\n", " ") + "\n");
    QCOMPARE(exits, QList<int>{1});
    QCOMPARE(readsWhileOpen, 0);
    QVERIFY(state->calls.isEmpty());
    QVERIFY(!form.Timer1->isActive());
    QCOMPARE(form.Label6->text(), QStringLiteral("1000 Hz"));

    // Whatever still arrives finds the panel blocked.
    form.Timer1_Timer();
    form.Command5->click();
    QTest::qWait(700);
    QCOMPARE(watcher.texts.size(), 1);
    QCOMPARE(exits.size(), 1);
    QVERIFY(state->calls.isEmpty());
}

QTEST_MAIN(TestStatusPoll)
#include "tst_statuspoll.moc"
