// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "backend.h"
#include "fldigiclient.h"
#include "fldigireads.h"

#include <QElapsedTimer>

class BridgeLog;

// Macro steps carried out on fldigi through its XML-RPC server, on the calls' connection. A
// step that sets a value reads fldigi's values in the same request, after the set, and the
// view keeps them: a read after the reply shows what the macro set.
class FldigiDriver : public Driver
{
public:
    // fldigi's own TX deadman ends a transmission after 5 minutes unless its operator changed it.
    // An undo owed longer than that would take a transmission found later for ours, while it is
    // most likely one the operator started at the station since: it is not ours to end.
    static constexpr int txDeadmanMs = 5 * 60 * 1000;

    // How long things take; the tests shorten some.
    struct Timing
    {
        int pollMs = 10;    // how often a wait for fldigi to change asks it
        int settleMs = 150; // a fresh transmission runs this long before it is aborted
        // fldigi enters transmit a moment after main.tx is answered: within 60 ms in every
        // measurement, later while its window thread is busy. A main.tx of a failed call that
        // fldigi carries out late keys it after the undo found it in receive, so receive is
        // watched for a second, some fifteen times the slowest key seen, read every 100 ms.
        int watchMs = 1000;
        int watchPollMs = 100;
    };

    FldigiDriver(FldigiClient &fldigi, FldigiReads &reads, BridgeLog &log, Timing timing);

    QString refusal(const MacroStep &step) const override;
    void carryOut(const MacroStep &step, RunningCall call, Then then) override;
    UndoTiming undoTiming() const override { return {txDeadmanMs, m_timing.watchMs, m_timing.watchPollMs}; }
    void undo(RunningCall call, Undo undo, Confirmed then) override;
    std::optional<BridgeFailure> cancel() override { return m_fldigi.cancel(false); }

private:
    using Answer = std::function<void(const QVariant &)>;

    void send(const RunningCall &call, FldigiClient::Request request, Answer then);
    void rpc(const RunningCall &call, const QString &method, const QVariantList &params, xmlrpc::Expect expect, Answer then);
    void setAndRead(const RunningCall &call, const QString &method, const QVariantList &params, FldigiReads::Then then);
    void awaitShown(const RunningCall &call, const std::function<void(std::function<void(bool)>)> &ask, Then then);
    void awaitState(const RunningCall &call, const QString &state, const QString &otherwise, Then then);

    void transmit(const RunningCall &call, Then then);
    void setMode(const RunningCall &call, const MacroStep &step, Then then);
    void setRigMode(const RunningCall &call, const QString &rigMode, Then then);
    void receiveNow(const RunningCall &call, Then then);
    void abortTransmission(const RunningCall &call, Then then);
    void dropText(const RunningCall &call, Then then);

    FldigiClient &m_fldigi;
    FldigiReads &m_reads;
    BridgeLog &m_log;
    const Timing m_timing;

    // When fldigi was last seen to start transmitting for us. It outlives the call that keyed:
    // an <RXANDCLEAR> in the call after a <TX> still lets a fresh transmission settle.
    QElapsedTimer m_keyedAt;
};
