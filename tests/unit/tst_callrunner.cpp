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
        kept.append({call, std::move(then)});
    }
    UndoTiming undoTiming() const override { return {60000, 0, 0}; }
    void undo(RunningCall, Undo, Confirmed then) override { then(false); }
    std::optional<BridgeFailure> cancel() override { return std::nullopt; }

    QStringList carried;
    QList<QPair<RunningCall, Then>> kept;
};

} // namespace

// Once a call has ended, what its driver still holds does nothing: no next step, no timer.
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
    bool ran = false;
    call.after(0, [&] { ran = true; });
    then(); // the next step, late
    QTest::qWait(50);
    QVERIFY(!ran);
    QCOMPARE(driver.carried, QStringList{"<AUDIOFQ:1>"});
}

QTEST_GUILESS_MAIN(TestCallRunner)
#include "tst_callrunner.moc"
