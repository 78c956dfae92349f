// SPDX-License-Identifier: GPL-3.0-or-later
#include "fldigidriver.h"

#include "bridgelog.h"
#include "fldigimodes.h"

#include <QList>

using Cause = BridgeFailure::Cause;
using xmlrpc::Expect;

FldigiDriver::FldigiDriver(FldigiClient &fldigi, FldigiReads &reads, BridgeLog &log, Timing timing)
    : m_fldigi(fldigi), m_reads(reads), m_log(log), m_timing(timing)
{
}

// ---- Building blocks of a step. The call's handle runs nothing once the call has ended; each
// request tells it as it goes out.

void FldigiDriver::send(const RunningCall &call, FldigiClient::Request request, Answer then)
{
    request.written = [call] { call.sent(); };
    m_fldigi.call(request, call.guard(std::move(then)), [call](const BridgeFailure &failure) { call.fail(failure); });
}

void FldigiDriver::rpc(const RunningCall &call, const QString &method, const QVariantList &params, Expect expect, Answer then)
{
    send(call, FldigiClient::Request::call(method, params, expect), std::move(then));
}

void FldigiDriver::setAndRead(const RunningCall &call, const QString &method, const QVariantList &params,
                              FldigiReads::Then then)
{
    m_reads.setAndRead({method, params}, [call] { call.sent(); }, call.guard(std::move(then)),
                       [call](const BridgeFailure &failure) { call.fail(failure); });
}

// Asks until fldigi shows what the step awaits: the caller has said what running out of time
// then means.
void FldigiDriver::awaitShown(const RunningCall &call, const std::function<void(std::function<void(bool)>)> &ask, Then then)
{
    ask([=, this](bool shown) {
        if (!shown)
            return call.after(m_timing.pollMs, [=, this] { awaitShown(call, ask, then); });
        call.awaiting({});
        then();
    });
}

void FldigiDriver::awaitState(const RunningCall &call, const QString &state, const QString &otherwise, Then then)
{
    call.awaiting(otherwise);
    awaitShown(call, [=, this](std::function<void(bool)> shown) {
        rpc(call, QStringLiteral("main.get_trx_state"), {}, Expect::String,
            [=](const QVariant &now) { shown(now.toString() == state); });
    }, std::move(then));
}

// ---- Macro steps

QString FldigiDriver::refusal(const MacroStep &step) const
{
    if (step.action != MacroStep::Action::Mode)
        return {};
    if (!fldigimodes::modemFor(step.text, m_reads.modemNames()).isEmpty())
        return {};
    return modeRefusal(QStringLiteral("fldigi"), step.text, fldigimodes::panelNames())
           + QStringLiteral(", and each modem name fldigi lists (the Modes property)");
}

void FldigiDriver::carryOut(const MacroStep &step, RunningCall call, Then then)
{
    using Action = MacroStep::Action;
    auto plain = [&](const QString &method, const QVariantList &params = {}) {
        rpc(call, method, params, Expect::Anything, [then](const QVariant &) { then(); });
    };
    switch (step.action) {
    case Action::Text:
        return plain(QStringLiteral("text.add_tx"), {step.text});
    case Action::AudioFq: // fldigi keeps it within the modem's range
        return setAndRead(call, QStringLiteral("modem.set_carrier"), {int(step.hz)}, [then](const auto &) { then(); });
    case Action::RigFq:
        return setAndRead(call, QStringLiteral("rig.set_frequency"), {step.hz}, [then](const auto &) { then(); });
    case Action::Mode:
        return setMode(call, step, then);
    case Action::Transmit:
        return transmit(call, then);
    case Action::Receive:
        return plain(QStringLiteral("text.add_tx"), {QStringLiteral("^r")}); // fldigi's own "then receive"
    case Action::ReceiveNow:
        return receiveNow(call, then);
    case Action::ClearTx:
        return plain(QStringLiteral("text.clear_tx"));
    case Action::ClearRx:
        return plain(QStringLiteral("text.clear_rx"));
    }
}

void FldigiDriver::transmit(const RunningCall &call, Then then)
{
    rpc(call, QStringLiteral("main.tx"), {}, Expect::Anything, [=, this](const QVariant &) {
        awaitState(call, QStringLiteral("TX"), QStringLiteral("fldigi did not start transmitting"), [=, this] {
            m_keyedAt.start();
            then();
        });
    });
}

// A digital modem also puts the rig in USB, so that an earlier AM or FM is not left behind.
void FldigiDriver::setMode(const RunningCall &call, const MacroStep &step, Then then)
{
    const QString mode = step.text;
    const QString modem = fldigimodes::modemFor(mode, m_reads.modemNames());
    rpc(call, QStringLiteral("modem.set_by_name"), {modem}, Expect::Anything, [=, this](const QVariant &answer) {
        if (answer.toString() == u"No such modem")
            return call.fail({Cause::NotCarriedOut, QStringLiteral("fldigi has no modem %1").arg(modem)});
        if (mode == u"AM" || mode == u"FM")
            return setRigMode(call, mode, then);
        if (mode != u"SSB")
            return setRigMode(call, QStringLiteral("USB"), then);
        rpc(call, QStringLiteral("rig.get_frequency"), {}, Expect::Double, [=, this](const QVariant &hz) {
            setRigMode(call, hz.toDouble() < 10e6 ? QStringLiteral("LSB") : QStringLiteral("USB"), then);
        });
    });
}

// fldigi sets the rig mode later, on its window thread: the reads in the set's own request may
// show the mode before it. They are read again until the new one shows; it is never set twice.
void FldigiDriver::setRigMode(const RunningCall &call, const QString &rigMode, Then then)
{
    setAndRead(call, QStringLiteral("rig.set_mode"), {rigMode}, [=, this](const FldigiReads::Shown &shown) {
        if (shown.rigMode == rigMode)
            return then();
        call.awaiting(QStringLiteral("fldigi did not show the rig mode %1").arg(rigMode),
                      QStringLiteral("; it may still take effect"));
        awaitShown(call, [=, this](std::function<void(bool)> seen) {
            m_reads.readAgain(call.guard([seen, rigMode](const FldigiReads::Shown &now) { seen(now.rigMode == rigMode); }),
                              [call](const BridgeFailure &failure) { call.fail(failure); });
        }, then);
    });
}

// Abort, not main.rx: receive now, not after the character in the air. The abort leaves the
// receive text alone; clear_tx drops what was not sent.
void FldigiDriver::receiveNow(const RunningCall &call, Then then)
{
    auto clear = [=, this] {
        rpc(call, QStringLiteral("text.clear_tx"), {}, Expect::Anything, [then](const QVariant &) { then(); });
    };
    rpc(call, QStringLiteral("main.get_trx_state"), {}, Expect::String, [=, this](const QVariant &state) {
        if (state.toString() == u"RX")
            return clear();
        abortTransmission(call, clear);
    });
}

// An abort within a few tens of milliseconds of the start of a transmission can wedge fldigi:
// a fresh one runs on for the rest of settleMs first, all of it when its start is not known.
void FldigiDriver::abortTransmission(const RunningCall &call, Then then)
{
    const qint64 ran = m_keyedAt.isValid() ? m_keyedAt.elapsed() : 0;
    call.after(int(qMax<qint64>(0, m_timing.settleMs - ran)), [=, this] {
        rpc(call, QStringLiteral("main.abort"), {}, Expect::Anything, [=, this](const QVariant &) {
            awaitState(call, QStringLiteral("RX"), QStringLiteral("fldigi did not go back to receive"), then);
        });
    });
}

void FldigiDriver::dropText(const RunningCall &call, Then then)
{
    rpc(call, QStringLiteral("text.clear_tx"), {}, Expect::Anything, [=, this](const QVariant &) {
        m_log.warning(QStringLiteral("dropped the unsent text of a call that failed, with all of fldigi's transmit text "
                                     "(text.clear_tx)"));
        then();
    });
}

// After a call that failed. fldigi may carry out a request it had already received when it
// resumes, and enter transmit a moment after main.tx: the runner watches receive a while, and
// this is tried again meanwhile.
void FldigiDriver::undo(RunningCall call, Undo undo, Confirmed then)
{
    auto drop = [=, this](bool keyed) {
        if (!undo.dropText)
            return then(keyed);
        dropText(call, [then, keyed] { then(keyed); });
    };
    m_reads.readAgain(call.guard([=, this](const FldigiReads::Shown &shown) {
        if (shown.trx.isEmpty())
            return call.fail({BridgeFailure::Cause::Malformed, QStringLiteral("fldigi did not say whether it transmits")});
        if (shown.trx == u"RX" || !undo.receive)
            return drop(false);
        m_keyedAt.invalidate(); // keyed by a request of a failed call, at a time not known
        abortTransmission(call, [=, this] {
            m_log.warning(QStringLiteral("fldigi was transmitting after a call that failed: put back to receive "
                                         "(main.abort)"));
            drop(true);
        });
    }), [call](const BridgeFailure &failure) { call.fail(failure); });
}
