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
    // How long things take; the tests shorten some.
    struct Timing
    {
        int pollMs = 10;            // how often a wait for fldigi to change asks it
        int settleMs = 150;         // a fresh transmission runs this long before it is aborted
        int confirmReceiveMs = 200; // fldigi keys a moment after main.tx: receive is read twice
    };

    FldigiDriver(FldigiClient &fldigi, FldigiReads &reads, BridgeLog &log, Timing timing);

    QString refusal(const MacroStep &step) const override;
    void carryOut(const MacroStep &step, RunningCall &call, Then then) override;
    void backToReceive(RunningCall &call, Then then) override { restoreReceive(call, false, std::move(then)); }
    std::optional<BridgeFailure> cancel() override { return m_fldigi.cancel(false); }

private:
    using Answer = std::function<void(const QVariant &)>;

    void send(RunningCall &call, const FldigiClient::Request &request, Answer then);
    void rpc(RunningCall &call, const QString &method, const QVariantList &params, xmlrpc::Expect expect, Answer then);
    void setAndRead(RunningCall &call, const QString &method, const QVariantList &params, FldigiReads::Then then);
    void awaitShown(RunningCall &call, const std::function<void(std::function<void(bool)>)> &ask, Then then);
    void awaitState(RunningCall &call, const QString &state, const QString &otherwise, Then then);

    void transmit(RunningCall &call, Then then);
    void setMode(RunningCall &call, const MacroStep &step, Then then);
    void setRigMode(RunningCall &call, const QString &rigMode, Then then);
    void receiveNow(RunningCall &call, Then then);
    void abortTransmission(RunningCall &call, Then then);
    void restoreReceive(RunningCall &call, bool confirming, Then then);

    FldigiClient &m_fldigi;
    FldigiReads &m_reads;
    BridgeLog &m_log;
    const Timing m_timing;

    // When fldigi was last seen to start transmitting for us. It outlives the call that keyed:
    // an <RXANDCLEAR> in the call after a <TX> still lets a fresh transmission settle.
    QElapsedTimer m_keyedAt;
};
