// SPDX-License-Identifier: GPL-3.0-or-later
#include "fldigihost.h"

#include "bridgelog.h"
#include "contract.h"
#include "fldigiclient.h"
#include "fldigiview.h"

#include <QHash>

using Cause = BridgeFailure::Cause;
using xmlrpc::Expect;

namespace {

// The modem that fldigi's set_by_name is given for one of the panel's modes, or "" for none.
QString modemFor(const QString &mode)
{
    static const QHash<QString, QString> modems = {
        {"CW", "CW"},         {"BPSK31", "BPSK31"}, {"QPSK31", "QPSK31"}, {"RTTY", "RTTY"},
        {"MFSK", "MFSK16"},   {"THROB", "THROB1"},  {"MT63", "MT63-1KL"}, {"HELL", "FELDHELL"},
        {"FAX", "WEFAX576"},  {"AMTOR", "SITORB"},  {"SSB", "SSB"},       {"AM", "SSB"},
        {"FM", "SSB"},
    };
    return modems.value(mode);
}

} // namespace

FldigiHost::FldigiHost(FldigiClient &fldigi, FldigiView &view, BridgeLog &log, Timing timing, QObject *parent)
    : QObject(parent), m_fldigi(fldigi), m_view(view), m_log(log), m_timing(timing)
{
    m_deadline.setSingleShot(true);
    m_deadline.setTimerType(Qt::PreciseTimer);
    connect(&m_deadline, &QTimer::timeout, this, &FldigiHost::timedOut);
    m_undoRetry.setInterval(m_timing.unkeyRetryMs);
    connect(&m_undoRetry, &QTimer::timeout, this, &FldigiHost::undoWhileIdle);
}

// ---- The calls the D-Bus object passes on

void FldigiHost::executeMacros(const QString &macros, Done done)
{
    const MacroPlan plan = planMacros(macros);
    for (const IgnoredTag &ignored : plan.ignored)
        m_log.warning(ignored.message());
    enqueue({.run = [this, steps = plan.steps] { runSteps(steps, 0); }, .done = std::move(done)});
}

// ---- One call at a time, each within its own time

void FldigiHost::enqueue(Job job)
{
    job.deadline = QDeadlineTimer(m_timing.callMs, Qt::PreciseTimer);
    job.afterRestore = m_undo == Undo::Restoring;
    m_queue.enqueue(std::move(job));
    startNext();
}

void FldigiHost::startNext()
{
    if (m_running)
        return;
    if (m_undo == Undo::Owed && !m_queue.isEmpty() && !m_queue.head().afterRestore)
        setUndo(Undo::Restoring);
    if (m_queue.isEmpty())
        return;
    m_job = m_queue.dequeue();
    m_running = true;
    m_step.clear();
    m_awaiting.clear();
    m_askedToTransmit = false;
    const qint64 left = m_job.deadline.remainingTime();
    if (left <= 0) {
        return fail({Cause::NotAnswering, QStringLiteral("fldigi at %1 is busy: an earlier call took all of the "
                                                         "%2 ms this one had").arg(m_fldigi.address()).arg(m_timing.callMs)});
    }
    m_deadline.start(int(left));
    m_job.run();
}

void FldigiHost::succeed(const QVariant &result)
{
    finish(result, nullptr);
}

void FldigiHost::fail(BridgeFailure failure)
{
    if (!m_step.isEmpty())
        failure.text = m_step + QStringLiteral(": ") + failure.text;
    finish({}, &failure);
}

void FldigiHost::finish(const QVariant &result, const BridgeFailure *failure)
{
    m_deadline.stop();
    ++m_generation;
    m_running = false;
    const Job job = std::exchange(m_job, {});
    if (failure) {
        m_view.forget();
        if (!job.quiet)
            m_log.error(failure->text);
        if (failure->fldigiSilent())
            emit fldigiSilent(*failure);
    }
    if (m_undo == Undo::Restoring)
        setUndo(failure ? Undo::Owed : Undo::None, failure ? failure->text : QString());
    else if (failure && m_askedToTransmit && failure->mayHaveReachedFldigi())
        setUndo(Undo::Owed);
    if (job.done)
        job.done(result, failure);
    QMetaObject::invokeMethod(this, &FldigiHost::startNext, Qt::QueuedConnection);
}

void FldigiHost::timedOut()
{
    const QString waitingFor = m_fldigi.cancel();
    const QString within = QStringLiteral(" within %1 ms").arg(m_timing.callMs);
    if (!m_awaiting.isEmpty())
        return fail({Cause::NotCarriedOut, m_awaiting + within});
    fail({Cause::NotAnswering, (waitingFor.isEmpty() ? QStringLiteral("the call was not done") : waitingFor) + within});
}

// ---- Undoing a transmission that a failed call may have started

void FldigiHost::setUndo(Undo next, const QString &failure)
{
    switch (next) {
    case Undo::None:
        m_undoRetry.stop();
        m_undoFailureSaid = false;
        break;
    case Undo::Owed:
        if (m_undo == Undo::Restoring) {
            if (!std::exchange(m_undoFailureSaid, true))
                m_log.error(failure);
            break;
        }
        if (m_undo == Undo::Owed)
            return;
        m_log.warning(QStringLiteral("fldigi may have started transmitting; it goes back to receive as soon as it answers"));
        m_undoRetry.start();
        QMetaObject::invokeMethod(this, &FldigiHost::undoWhileIdle, Qt::QueuedConnection);
        break;
    case Undo::Restoring:
        for (Job &queued : m_queue)
            queued.afterRestore = true;
        m_queue.prepend({.deadline = QDeadlineTimer(m_timing.callMs, Qt::PreciseTimer),
                         .run = [this] { restoreReceive(false); },
                         .quiet = true});
        break;
    }
    m_undo = next;
}

void FldigiHost::undoWhileIdle()
{
    if (m_undo == Undo::Owed && idle()) {
        setUndo(Undo::Restoring);
        startNext();
    }
}

// ---- Building blocks of a call; each does nothing once its call has ended

void FldigiHost::rpc(const QString &method, const QVariantList &params, Expect expect,
                     std::function<void(const QVariant &)> then)
{
    send(FldigiClient::Request::call(method, params, expect), std::move(then));
}

// The set, then the view's reads, in one request: its answer says what fldigi shows after the
// set, at no extra round trip.
void FldigiHost::setAndRead(const QString &method, const QVariantList &params, Then then)
{
    const QList<xmlrpc::Call> calls = QList<xmlrpc::Call>{{method, params}} + FldigiView::calls();
    send(FldigiClient::Request::multicall(calls, method), [=, this](const QVariant &answer) {
        QList<xmlrpc::Result> results;
        try {
            results = xmlrpc::results(answer, calls.size());
        } catch (const BridgeFailure &failure) {
            return fail({failure.cause, QStringLiteral("fldigi at %1 sent a malformed answer to %2: %3")
                                            .arg(m_fldigi.address(), method, failure.text)});
        }
        if (results[0].fault)
            return fail({Cause::Fault, QStringLiteral("fldigi refused %1: %2").arg(method, results[0].fault->text)});
        m_view.store(m_view.readings(results.mid(1)));
        then();
    });
}

void FldigiHost::send(const FldigiClient::Request &request, std::function<void(const QVariant &)> then)
{
    const quint64 generation = m_generation;
    // The view keeps no refresh that this request, when it may change fldigi, crossed.
    auto changeSentOrEnded = [this, changes = !request.readsOnly] {
        if (changes)
            m_view.changeSentOrEnded();
    };
    changeSentOrEnded();
    m_fldigi.call(request,
                  [=, this, then = std::move(then)](const QVariant &value) {
                      emit fldigiAnswered();
                      changeSentOrEnded();
                      if (generation == m_generation)
                          then(value);
                  },
                  [=, this](const BridgeFailure &failure) {
                      changeSentOrEnded();
                      if (generation == m_generation)
                          fail(failure);
                  });
}

void FldigiHost::after(int ms, Then then)
{
    const quint64 generation = m_generation;
    QTimer::singleShot(ms, Qt::PreciseTimer, this, [this, generation, then = std::move(then)] {
        if (generation == m_generation)
            then();
    });
}

void FldigiHost::awaitState(const QString &state, const QString &otherwise, Then then)
{
    m_awaiting = otherwise;
    rpc(QStringLiteral("main.get_trx_state"), {}, Expect::String, [=, this](const QVariant &now) {
        if (now.toString() != state)
            return after(m_timing.pollMs, [=, this] { awaitState(state, otherwise, then); });
        m_awaiting.clear();
        then();
    });
}

// ---- Macros

void FldigiHost::runSteps(const QList<MacroStep> &steps, qsizetype index)
{
    if (index == steps.size())
        return succeed();
    m_step = steps[index].source;
    carryOut(steps[index], [=, this] { runSteps(steps, index + 1); });
}

void FldigiHost::carryOut(const MacroStep &step, Then then)
{
    using Action = MacroStep::Action;
    auto call = [this, then](const QString &method, const QVariantList &params = {}) {
        rpc(method, params, Expect::Anything, [then](const QVariant &) { then(); });
    };
    switch (step.action) {
    case Action::Text:
        return call(QStringLiteral("text.add_tx"), {step.text});
    case Action::AudioFq:
        return setAndRead(QStringLiteral("modem.set_carrier"), {int(step.hz)}, then); // fldigi clamps it to the modem
    case Action::RigFq:
        return setAndRead(QStringLiteral("rig.set_frequency"), {step.hz}, then);
    case Action::Mode:
        return setMode(step.text, then);
    case Action::Transmit:
        m_askedToTransmit = true;
        return rpc(QStringLiteral("main.tx"), {}, Expect::Anything, [=, this](const QVariant &) {
            awaitState(QStringLiteral("TX"), QStringLiteral("fldigi did not start transmitting"), [=, this] {
                m_keyedAt.start();
                then();
            });
        });
    case Action::Receive:
        return call(QStringLiteral("text.add_tx"), {QStringLiteral("^r")}); // fldigi's own "then receive"
    case Action::ReceiveNow:
        return receiveNow(then);
    case Action::ClearTx:
        return call(QStringLiteral("text.clear_tx"));
    case Action::ClearRx:
        return call(QStringLiteral("text.clear_rx"));
    }
}

// A digital modem also puts the rig in USB, so that an earlier AM or FM is not left behind.
void FldigiHost::setMode(const QString &mode, Then then)
{
    const QString modem = modemFor(mode);
    if (modem.isEmpty()) {
        m_log.warning(QStringLiteral("ignored %1: fldigi has no such mode").arg(m_step));
        return then();
    }
    rpc(QStringLiteral("modem.set_by_name"), {modem}, Expect::Anything, [=, this](const QVariant &answer) {
        if (answer.toString() == u"No such modem")
            return fail({Cause::NotCarriedOut, QStringLiteral("fldigi has no modem %1").arg(modem)});
        auto setRigMode = [=, this](const QString &rigMode) { setAndRead(QStringLiteral("rig.set_mode"), {rigMode}, then); };
        if (mode == u"AM" || mode == u"FM")
            return setRigMode(mode);
        if (mode != u"SSB")
            return setRigMode(QStringLiteral("USB"));
        rpc(QStringLiteral("rig.get_frequency"), {}, Expect::Double, [=](const QVariant &hz) {
            setRigMode(hz.toDouble() < 10e6 ? QStringLiteral("LSB") : QStringLiteral("USB"));
        });
    });
}

// Abort, not main.rx: receive now, not after the character in the air. The abort leaves the
// receive text alone; clear_tx drops what was not sent.
void FldigiHost::receiveNow(Then then)
{
    auto clear = [=, this] {
        rpc(QStringLiteral("text.clear_tx"), {}, Expect::Anything, [then](const QVariant &) { then(); });
    };
    rpc(QStringLiteral("main.get_trx_state"), {}, Expect::String, [=, this](const QVariant &state) {
        if (state.toString() == u"RX")
            return clear();
        abortTransmission(clear);
    });
}

// An abort within a few tens of milliseconds of the start of a transmission can wedge fldigi:
// a fresh one runs on for the rest of settleMs first, all of it when its start is not known.
void FldigiHost::abortTransmission(Then then)
{
    const qint64 ran = m_keyedAt.isValid() ? m_keyedAt.elapsed() : 0;
    after(int(qMax<qint64>(0, m_timing.settleMs - ran)), [=, this] {
        rpc(QStringLiteral("main.abort"), {}, Expect::Anything, [=, this](const QVariant &) {
            awaitState(QStringLiteral("RX"), QStringLiteral("fldigi did not go back to receive"), then);
        });
    });
}

// After a failed call that asked fldigi to transmit. fldigi may carry out a request it had
// already received when it resumes, and it enters transmit a moment after main.tx returns:
// a receive state is read twice before it is believed.
void FldigiHost::restoreReceive(bool confirming)
{
    m_step = QStringLiteral("back to receive");
    rpc(QStringLiteral("main.get_trx_state"), {}, Expect::String, [=, this](const QVariant &state) {
        if (state.toString() == u"RX") {
            if (!confirming)
                return after(m_timing.confirmReceiveMs, [this] { restoreReceive(true); });
            m_log.info(QStringLiteral("fldigi answers again and is in receive"));
            return succeed();
        }
        m_keyedAt.invalidate(); // keyed by a request of a failed call, at a time not known
        abortTransmission([this] {
            m_log.warning(QStringLiteral("fldigi answers again and was transmitting after a call that failed: "
                                         "put back to receive (main.abort)"));
            succeed();
        });
    });
}
