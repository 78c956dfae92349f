// SPDX-License-Identifier: GPL-3.0-or-later
#include "callrunner.h"

#include "bridgelog.h"
#include "bridgeview.h"

using Cause = BridgeFailure::Cause;

CallRunner::CallRunner(Driver &driver, BridgeView &view, BridgeLog &log, const QString &program, Timing timing,
                       QObject *parent)
    : QObject(parent), m_driver(driver), m_view(view), m_log(log), m_program(program), m_timing(timing)
{
    m_undoDeadline.setSingleShot(true);
    m_undoDeadline.setTimerType(Qt::PreciseTimer);
    connect(&m_undoDeadline, &QTimer::timeout, this, &CallRunner::timedOut);
    m_undoRetry.setInterval(m_timing.undoRetryMs);
    connect(&m_undoRetry, &QTimer::timeout, this, &CallRunner::tryUndo);
}

void CallRunner::executeMacros(const QString &macros, Done done)
{
    const MacroPlan plan = planMacros(macros);
    for (const IgnoredTag &ignored : plan.ignored)
        m_log.warning(ignored.message());
    for (const MacroStep &step : plan.steps) {
        if (const QString why = m_driver.refusal(step); !why.isEmpty()) {
            const BridgeFailure refused{Cause::Refused, step.source + QStringLiteral(": ") + why};
            m_log.error(refused.text);
            return done({}, &refused);
        }
    }
    const quint64 id = ++m_lastJob;
    m_queue.append({id, plan.steps, std::move(done)});
    QTimer::singleShot(m_timing.callMs, Qt::PreciseTimer, this, [this, id] { expire(id); });
    if (m_undoOwed)
        tryUndo();
    startNext();
}

// ---- One call at a time

void CallRunner::startNext()
{
    if (m_running != Running::Nothing || m_undoOwed || m_queue.isEmpty())
        return;
    m_job = m_queue.takeFirst();
    m_running = Running::Call;
    m_step.clear();
    m_awaiting.clear();
    m_mayTransmit = false;
    runSteps(0);
}

void CallRunner::runSteps(qsizetype index)
{
    if (index == m_job.steps.size())
        return finish(nullptr);
    const MacroStep &step = m_job.steps[index];
    m_step = step.source;
    m_driver.carryOut(step, *this, guard([this, index] { runSteps(index + 1); }));
}

void CallRunner::fail(BridgeFailure failure)
{
    if (!m_step.isEmpty())
        failure.text = m_step + QStringLiteral(": ") + failure.text;
    finish(&failure);
}

void CallRunner::after(int ms, Then then)
{
    QTimer::singleShot(ms, Qt::PreciseTimer, this, guard(std::move(then)));
}

void CallRunner::finish(const BridgeFailure *failure)
{
    ++m_generation;
    if (failure)
        m_view.forget();
    const Running was = std::exchange(m_running, Running::Nothing);
    if (was == Running::Undo) {
        settleUndo(failure);
    } else {
        const Job job = std::exchange(m_job, {});
        if (failure) {
            m_log.error(failure->text);
            if (m_mayTransmit)
                owe();
        }
        job.done({}, failure);
    }
    QMetaObject::invokeMethod(this, &CallRunner::startNext, Qt::QueuedConnection);
}

// A call's time is up: in the queue it fails there, and while it runs, what it waited for is
// dropped.
void CallRunner::expire(quint64 job)
{
    if (m_running == Running::Call && m_job.id == job)
        return timedOut();
    const auto waiting = std::find_if(m_queue.begin(), m_queue.end(), [job](const Job &j) { return j.id == job; });
    if (waiting == m_queue.end())
        return;
    const Job expired = *waiting;
    m_queue.erase(waiting);
    const BridgeFailure failure =
        m_undoOwed ? BridgeFailure{Cause::UndoOwed,
                                   QStringLiteral("%1 may still be transmitting after a call that failed, and nothing is "
                                                  "carried out until it is back in receive (%2)")
                                       .arg(m_program, m_undoFailure.isEmpty() ? QStringLiteral("not answered yet") : m_undoFailure)}
                   : BridgeFailure{Cause::OutOfTime, QStringLiteral("%1 is busy: an earlier call took all of the %2 ms this "
                                                                    "one had").arg(m_program).arg(m_timing.callMs)};
    m_log.error(failure.text);
    expired.done({}, &failure);
}

void CallRunner::timedOut()
{
    const std::optional<BridgeFailure> waited = m_driver.cancel();
    const QString within = QStringLiteral(" within %1 ms").arg(m_timing.callMs);
    if (!m_awaiting.value(0).isEmpty())
        return fail({Cause::NotCarriedOut, m_awaiting[0] + within + m_awaiting[1]});
    if (waited)
        return fail({waited->cause, waited->text + within});
    fail({Cause::OutOfTime, QStringLiteral("the call was not done") + within});
}

// ---- Undoing a transmission that a failed call may have started

void CallRunner::owe()
{
    m_undoOwed = true;
    m_undoOwedSince.start();
    m_undoFailure.clear();
    m_log.warning(QStringLiteral("%1 may have started transmitting; it goes back to receive as soon as it answers")
                      .arg(m_program));
    m_undoRetry.start();
    QMetaObject::invokeMethod(this, &CallRunner::tryUndo, Qt::QueuedConnection);
}

void CallRunner::tryUndo()
{
    if (!m_undoOwed || m_running != Running::Nothing)
        return;
    if (m_undoOwedSince.elapsed() >= m_timing.undoOwedMs) {
        m_log.warning(QStringLiteral("%1 did not answer for %2 s after a call that may have started a transmission: "
                                     "no longer undone, a transmission found later is not taken for ours")
                          .arg(m_program).arg(m_timing.undoOwedMs / 1000));
        settleUndo(nullptr);
        return startNext();
    }
    m_running = Running::Undo;
    m_step = QStringLiteral("back to receive");
    m_awaiting.clear();
    m_undoDeadline.start(m_timing.callMs);
    m_driver.backToReceive(*this, guard([this] { finish(nullptr); }));
}

void CallRunner::settleUndo(const BridgeFailure *failure)
{
    m_undoDeadline.stop();
    if (!failure) {
        m_undoOwed = false;
        m_undoRetry.stop();
        return;
    }
    if (m_undoFailure.isEmpty()) // said once, not at every try
        m_log.error(failure->text);
    m_undoFailure = failure->text;
}
