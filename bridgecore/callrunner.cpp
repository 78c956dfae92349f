// SPDX-License-Identifier: GPL-3.0-or-later
#include "callrunner.h"

#include "bridgelog.h"
#include "bridgeview.h"

#include <QScopedValueRollback>

using Cause = BridgeFailure::Cause;
using Action = MacroStep::Action;

namespace {

// The program answered that it did not take the request.
bool refusedByProgram(Cause cause)
{
    return cause == Cause::Fault || cause == Cause::HttpStatus;
}

} // namespace

CallRunner::CallRunner(Driver &driver, BridgeView &view, BridgeLog &log, const QString &program, Timing timing,
                       QObject *parent)
    : QObject(parent), m_driver(driver), m_view(view), m_log(log), m_program(program), m_timing(timing)
{
    m_undoDeadline.setSingleShot(true);
    m_undoDeadline.setTimerType(Qt::PreciseTimer);
    connect(&m_undoDeadline, &QTimer::timeout, this, &CallRunner::timedOut);
    m_undoRetry.setInterval(m_timing.undoRetryMs);
    connect(&m_undoRetry, &QTimer::timeout, this, &CallRunner::tryUndo);
    m_watchPoll.setSingleShot(true);
    connect(&m_watchPoll, &QTimer::timeout, this, &CallRunner::tryUndo);
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
    m_queue.append({id, plan.steps, std::move(done), QDeadlineTimer(m_timing.callMs, Qt::PreciseTimer)});
    QTimer::singleShot(m_timing.callMs, Qt::PreciseTimer, this, [this, id] { expire(id); });
    tryUndo();
    startNext();
}

// ---- One call at a time

void CallRunner::startNext()
{
    if (m_running != Running::Nothing || m_owed.owed() || m_queue.isEmpty())
        return;
    // A turn that comes with almost none of the call's time left would send a change whose
    // answer cannot come in time: the call fails as waiting too long, with nothing sent.
    while (!m_queue.isEmpty() && m_queue.first().deadline.remainingTime() < m_timing.callMs / 10)
        expire(m_queue.first().id);
    if (m_queue.isEmpty())
        return;
    m_job = m_queue.takeFirst();
    m_running = Running::Call;
    m_lastSent = m_firstTextSent = -1;
    runSteps(0);
}

void CallRunner::runSteps(qsizetype index)
{
    if (index == m_job.steps.size())
        return finish(nullptr);
    const MacroStep &step = m_job.steps[index];
    m_stepIndex = index;
    m_step = step.source;
    m_awaiting.clear();
    m_driver.carryOut(step, handle(), handle().guard([this, index] { runSteps(index + 1); }));
}

void CallRunner::fail(quint64 id, BridgeFailure failure)
{
    if (!current(id))
        return;
    if (!m_step.isEmpty())
        failure.text = m_step + QStringLiteral(": ") + failure.text;
    finish(&failure);
}

void CallRunner::after(quint64 id, int ms, Then then)
{
    QTimer::singleShot(ms, Qt::PreciseTimer, this, [this, id, then = std::move(then)] {
        if (current(id))
            then();
    });
}

void CallRunner::awaiting(quint64 id, const QString &what, const QString &note)
{
    if (current(id))
        m_awaiting = {what, note};
}

void CallRunner::sent(quint64 id)
{
    if (!current(id) || m_running != Running::Call)
        return;
    m_lastSent = m_stepIndex;
    if (m_firstTextSent < 0 && m_job.steps[m_stepIndex].action == Action::Text)
        m_firstTextSent = m_stepIndex;
}

// The end of a call or of an undo try: nothing more of it runs or goes out.
CallRunner::Running CallRunner::endRunning()
{
    ++m_generation;
    m_driver.cancel();
    return std::exchange(m_running, Running::Nothing);
}

void CallRunner::finish(const BridgeFailure *failure)
{
    if (failure)
        m_view.forget();
    if (endRunning() == Running::Undo) {
        undoFailed(*failure);
    } else {
        const Job job = std::exchange(m_job, {});
        if (failure) {
            BridgeFailure said = mayStillTakeEffect(job.steps[m_stepIndex].action, *failure);
            // A refusal is the program left as it was: one after some of the call went out is a
            // failure like any other.
            if (said.cause == Cause::Refused && m_lastSent >= 0)
                said.cause = Cause::NotCarriedOut;
            m_log.error(said.text);
            owe(undoFor(job, said));
            job.done({}, &said);
        } else {
            job.done({}, nullptr);
        }
    }
    startNextLater();
}

void CallRunner::startNextLater()
{
    QMetaObject::invokeMethod(this, &CallRunner::startNext, Qt::QueuedConnection);
}

// A change whose request went out and was not answered may reach the program later; the undo
// takes care of a transmission and its text.
BridgeFailure CallRunner::mayStillTakeEffect(Action action, BridgeFailure failure) const
{
    const bool undone = action == Action::Text || action == Action::Transmit || action == Action::Receive
                        || action == Action::ReceiveNow;
    // NotCarriedOut from the driver is the program's settled answer; from the call's time
    // running out, the change awaited may still come.
    const bool answered = refusedByProgram(failure.cause) || failure.cause == Cause::Malformed
                          || failure.cause == Cause::Refused || (failure.cause == Cause::NotCarriedOut && !m_outOfTime);
    if (m_lastSent == m_stepIndex && !undone && !answered && !failure.text.contains(u"may still take effect"))
        failure.text += QStringLiteral("; it may still take effect");
    return failure;
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
    const qint64 taken = m_timing.callMs - qMax<qint64>(0, expired.deadline.remainingTime());
    const BridgeFailure failure =
        m_owed.owed() ? BridgeFailure{Cause::UndoOwed, owedText()}
                      : BridgeFailure{Cause::OutOfTime, QStringLiteral("%1 is busy: earlier calls took %3 of the %2 ms "
                                                                       "this one had")
                                                            .arg(m_program).arg(m_timing.callMs).arg(taken)};
    m_log.error(failure.text);
    expired.done({}, &failure);
}

void CallRunner::timedOut()
{
    const std::optional<BridgeFailure> waited = m_driver.cancel();
    const QString within = QStringLiteral(" within %1 ms").arg(m_timing.callMs);
    const quint64 id = m_generation;
    const QScopedValueRollback outOfTime(m_outOfTime, true);
    if (!m_awaiting.value(0).isEmpty())
        return fail(id, {Cause::NotCarriedOut, m_awaiting[0] + within + m_awaiting[1]});
    if (waited)
        return fail(id, {waited->cause, waited->text + within});
    fail(id, {Cause::OutOfTime, QStringLiteral("the call was not done") + within});
}

// ---- Undoing what a failed call sent

Undo CallRunner::undoFor(const Job &job, const BridgeFailure &failure) const
{
    Undo undo;
    if (m_lastSent < 0) // refused or expired before anything of it went out
        return undo;
    for (const MacroStep &step : job.steps) {
        undo.receive |= step.action == Action::Transmit || step.action == Action::Receive || step.action == Action::ReceiveNow;
        undo.dropText |= step.action == Action::ReceiveNow;
    }
    // A text that the program refused in so many words is not in its transmit text.
    undo.dropText |= m_firstTextSent >= 0 && (m_firstTextSent < m_stepIndex || !refusedByProgram(failure.cause));
    return undo;
}

void CallRunner::owe(Undo undo)
{
    if (!undo.owed())
        return;
    m_owed.receive |= undo.receive;
    m_owed.dropText |= undo.dropText;
    m_owedSince.start();
    m_watchFrom.invalidate();
    m_watchPoll.stop();
    m_undoFailure.clear();
    if (undo.receive)
        m_log.warning(QStringLiteral("%1 may be transmitting after a call that failed: it is put back to receive as "
                                     "soon as it answers").arg(m_program));
    if (undo.dropText)
        m_log.warning(QStringLiteral("the unsent text of a call that failed is dropped from %1 as soon as it answers")
                          .arg(m_program));
    m_undoRetry.start();
    QMetaObject::invokeMethod(this, &CallRunner::tryUndo, Qt::QueuedConnection);
}

QString CallRunner::owedText() const
{
    const QString why = m_undoFailure.isEmpty() ? QStringLiteral("not answered yet") : m_undoFailure;
    if (m_owed.receive)
        return QStringLiteral("%1 may still be transmitting after a call that failed, and nothing is carried out until "
                              "it is back in receive (%2)").arg(m_program, why);
    return QStringLiteral("the unsent text of a call that failed is still in %1, and nothing is carried out until it "
                          "is dropped (%2)").arg(m_program, why);
}

// While receive is watched, only the watch's own timer tries again.
void CallRunner::tryUndo()
{
    if (!m_owed.owed() || m_running != Running::Nothing || m_watchPoll.isActive())
        return;
    const Driver::UndoTiming timing = m_driver.undoTiming();
    if (!m_watchFrom.isValid() && m_owedSince.elapsed() >= timing.owedMs) {
        m_log.warning(QStringLiteral("%1 did not answer for %2 s after a call that failed: it is no longer undone, and "
                                     "a transmission found later is not taken for ours")
                          .arg(m_program).arg(timing.owedMs / 1000));
        settleUndo();
        return startNext();
    }
    m_running = Running::Undo;
    m_step = QStringLiteral("undo of a call that failed");
    m_stepIndex = -1;
    m_awaiting.clear();
    m_undoDeadline.start(m_timing.callMs);
    m_driver.undo(handle(), m_owed, handle().guard([this](bool keyed) { undoConfirmed(keyed); }));
}

void CallRunner::undoConfirmed(bool keyed)
{
    endRunning();
    m_undoDeadline.stop();
    m_owed.dropText = false; // the driver dropped it
    m_undoFailure.clear();
    const Driver::UndoTiming timing = m_driver.undoTiming();
    if (m_owed.receive) {
        if (keyed || !m_watchFrom.isValid())
            m_watchFrom.start();
        if (m_watchFrom.elapsed() < timing.watchMs) {
            m_watchPoll.start(timing.watchPollMs);
            return;
        }
        m_log.info(QStringLiteral("%1 is in receive after the call that failed").arg(m_program));
    }
    settleUndo();
    startNextLater();
}

void CallRunner::undoFailed(const BridgeFailure &failure)
{
    m_undoDeadline.stop();
    m_watchFrom.invalidate(); // confirmed again once the program answers
    if (m_undoFailure.isEmpty()) // said once, not at every try
        m_log.error(failure.text);
    m_undoFailure = failure.text;
}

void CallRunner::settleUndo()
{
    m_owed = {};
    m_watchFrom.invalidate();
    m_watchPoll.stop();
    m_undoRetry.stop();
}
