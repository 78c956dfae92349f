// SPDX-License-Identifier: GPL-3.0-or-later
#include "bridgecall.h"
#include "bridgelog.h"
#include "bridgeview.h"
#include "callrunner.h"

#include <QTest>
#include <QTextStream>

// The core against a driver that forgets every rule: it keeps the handles and callbacks of its
// calls, drops nothing when told to, and uses them after the calls have ended.
class TestCallRunner : public QObject
{
    Q_OBJECT

private slots:
    void anEndedCallRunsNothing();
};

namespace {

class NoReadings : public ReadingSource
{
public:
    void refresh(Got, Failed) override {}
    BridgeFailure cancelRefresh() override { return {BridgeFailure::Cause::NotAnswering, "no answer"}; }
};

class CarelessDriver : public Driver
{
public:
    void carryOut(const MacroStep &step, RunningCall call, Then then) override
    {
        carried << step.source;
        call.sent();
        kept.append({call, std::move(then)});
    }
    UndoTiming undoTiming() const override { return {60000, 0, 0}; }
    void undo(RunningCall, Undo undo, Confirmed then) override
    {
        undone << undo.receive;
        then(false);
    }
    std::optional<BridgeFailure> cancel() override { return std::nullopt; }

    QStringList carried;
    QList<bool> undone;
    QList<QPair<RunningCall, Then>> kept;
};

} // namespace

// Once a call has ended, what its driver still holds does nothing: no next step, no second
// reply, no undo owed by it, no timer.
void TestCallRunner::anEndedCallRunsNothing()
{
    QString said;
    QTextStream saidStream(&said);
    BridgeLog log(saidStream, "test", false);
    NoReadings readings;
    BridgeView view(readings, log, "the program", {});
    CarelessDriver driver;
    CallRunner runner(driver, view, log, "the program", {.callMs = 100, .undoRetryMs = 1000});

    const auto first = start([&](BridgeDone done) { runner.executeMacros("<AUDIOFQ:1><AUDIOFQ:2>", done); });
    QTRY_VERIFY(first->ms >= 0);
    QVERIFY(first->failure);
    const auto [call, then] = driver.kept.takeFirst();
    QVERIFY(!call.running());
    bool ran = false;
    call.after(0, [&] { ran = true; });
    then(); // the next step, late
    call.sent();
    call.fail({BridgeFailure::Cause::NotAnswering, "late"});
    call.guard([&] { ran = true; })();
    QTest::qWait(50);
    QVERIFY(!ran);
    QCOMPARE(driver.carried, QStringList{"<AUDIOFQ:1>"});
    QVERIFY(driver.undone.isEmpty()); // an audio frequency owes no undo, whatever the ended call says

    // The next call runs as if nothing had happened.
    const auto second = start([&](BridgeDone done) { runner.executeMacros("<CLEARRXWINDOW>", done); });
    QTRY_COMPARE(driver.kept.size(), 1);
    driver.kept.takeFirst().second();
    QTRY_VERIFY(second->ms >= 0);
    QVERIFY(!second->failure);
    QCOMPARE(driver.carried, (QStringList{"<AUDIOFQ:1>", "<CLEARRXWINDOW>"}));
}

QTEST_GUILESS_MAIN(TestCallRunner)
#include "tst_callrunner.moc"
