// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "backend.h"
#include "wsjtxlink.h"

#include <QTimer>

class WsjtxReads;

// Macro steps carried out on WSJT-X with its UDP requests, each confirmed by what WSJT-X sends
// back before the call's reply. WSJT-X sends nothing for a request that changes nothing, and
// never sends a datagram identical to its last: where the view already shows what a step asks
// for, a Replay's Status confirms it. What WSJT-X cannot be asked is refused before anything is
// sent; this program can start no transmission. No request goes out while another program
// speaks as the WSJT-X followed (WsjtxLink::rival).
class WsjtxDriver : public Driver
{
public:
    static constexpr int settleMs = 50; // how often an Rx DF is read until it shows, and once after
    static constexpr int rxDfReads = 4;  // Replays until an Rx DF sent shows, before it is sent again
    static constexpr int rxDfSends = 3;  // Configures with it, before the step fails
    static constexpr int recheckMs = 300; // an answer later than this checks "Accept UDP requests" again

    WsjtxDriver(WsjtxLink &link, WsjtxReads &reads);

    static const QStringList &modes();

    QString refusal(const MacroStep &step) const override;
    void carryOut(const MacroStep &step, RunningCall call, Then then) override;
    // WSJT-X starts no transmission for us: a failed <RX> or <RXANDCLEAR> owes a Halt Tx while
    // the operator's word is recent. After a minute, a transmission is more likely one the
    // operator started in WSJT-X's window since.
    UndoTiming undoTiming() const override { return {60 * 1000, 0, 0}; }
    void undo(RunningCall call, Undo undo, Confirmed then) override;
    std::optional<BridgeFailure> cancel() override;

private:
    using Shows = std::function<bool(const wsjtx::Message &)>;

    // Sends the request, once WSJT-X is known to take requests, and waits for what shows it done.
    void request(const RunningCall &call, const QByteArray &datagram, const QString &awaited, Shows shows, Then then);
    void await(const RunningCall &call, const QString &awaited, Shows shows, Then then);
    void replayShows(const RunningCall &call, const QString &awaited, const std::function<bool(const wsjtx::Status &)> &shows,
                     Then then);
    void setMode(const RunningCall &call, const QString &mode, Then then);
    void setRxDf(const RunningCall &call, quint32 hz, Then then, int sends);
    void awaitRxDf(const RunningCall &call, quint32 hz, Then then, int sends, int reads);
    void halt(const RunningCall &call, bool autoOnly, Then then);

    WsjtxLink &m_link;
    WsjtxReads &m_reads;
    Shows m_shows;      // what the call in progress waits for
    Then m_then;
    QString m_awaited;
    std::optional<RunningCall> m_waiting; // the call that waits
    QTimer m_recheck;
    bool m_rxDfUnsure = false; // an Rx DF went out and was not yet seen to hold
};
