// SPDX-License-Identifier: GPL-3.0-or-later
#include "wsjtxdriver.h"

#include "wsjtxreads.h"

using Cause = BridgeFailure::Cause;
using Action = MacroStep::Action;

WsjtxDriver::WsjtxDriver(WsjtxLink &link, WsjtxReads &reads) : m_link(link), m_reads(reads)
{
    QObject::connect(&link, &WsjtxLink::message, &link, [this](const wsjtx::Message &message) {
        if (!m_shows || !m_waiting->running() || !m_shows(message))
            return;
        if (message.status)
            m_reads.storeNow(*message.status); // a read after the reply shows it
        m_shows = nullptr;
        m_recheck.stop();
        m_waiting->awaiting({});
        std::exchange(m_then, nullptr)();
    });
    // WSJT-X answers within milliseconds: an answer this late may mean that its operator turned
    // "Accept UDP requests" off since it was checked.
    m_recheck.setSingleShot(true);
    m_recheck.setInterval(recheckMs);
    QObject::connect(&m_recheck, &QTimer::timeout, &link, [this] {
        if (m_shows && m_waiting->running())
            m_link.checkAccepts();
    });
    QObject::connect(&link, &WsjtxLink::gone, &link, [this](const QString &why) {
        if (m_shows && m_waiting->running())
            m_waiting->fail({Cause::NotRunning, QStringLiteral("%1: WSJT-X has gone: %2").arg(m_awaited, why)});
    });
    QObject::connect(&link, &WsjtxLink::acceptsChecked, &link, [this](WsjtxLink::Accepts accepts) {
        if (accepts == WsjtxLink::Accepts::No && m_shows && m_waiting->running())
            m_waiting->fail({Cause::NotAnswering,
                             QStringLiteral("%1: %2 answers no request now: \"Accept UDP requests\" may have been "
                                            "turned off in its Settings, Reporting tab, or it is stopped")
                                 .arg(m_awaited, m_link.name())});
    });
}

const QStringList &WsjtxDriver::modes()
{
    static const QStringList modes{"FT8", "FT4", "FST4", "FST4W", "JT4", "JT9", "JT65", "Q65", "MSK144", "WSPR", "FreqCal", "Echo"};
    return modes;
}

QString WsjtxDriver::refusal(const MacroStep &step) const
{
    switch (step.action) {
    case Action::RigFq:
        return QStringLiteral("WSJT-X cannot be asked to set the dial frequency; set it at the rig or in WSJT-X");
    case Action::Transmit:
        return QStringLiteral("WSJT-X starts transmitting only from its own window");
    case Action::ClearTx:
        return QStringLiteral("WSJT-X's message text cannot be read back, so it is not cleared");
    case Action::Text:
        return step.text.trimmed().isEmpty() ? QString() : QStringLiteral("WSJT-X takes no transmit text from here");
    case Action::Mode:
        return modeRefusal(QStringLiteral("WSJT-X"), step.text, modes());
    default:
        return {};
    }
}

void WsjtxDriver::carryOut(const MacroStep &step, RunningCall call, Then then)
{
    const std::optional<wsjtx::Status> latest = m_link.latest();
    switch (step.action) {
    case Action::Mode:
        // Where the view shows the mode, a Replay tells whether WSJT-X is still in it: its operator
        // may have picked another a moment ago.
        if (latest && latest->mode == step.text)
            return replayShows(call, QStringLiteral("WSJT-X did not answer a Replay"),
                               [](const wsjtx::Status &) { return true; }, [=, this] {
                                   if (m_link.latest() && m_link.latest()->mode == step.text)
                                       return then();
                                   setMode(call, step.text, then);
                               });
        return setMode(call, step.text, then);
    case Action::AudioFq:
        return setRxDf(call, quint32(step.hz), then, 1);
    case Action::Receive:
        return halt(call, true, then);
    case Action::ReceiveNow:
        return halt(call, false, then);
    case Action::ClearRx: {
        auto clear = [=, this] {
            request(call, wsjtx::clear(m_link.id(), 2), QStringLiteral("WSJT-X did not confirm the clear"),
                    [](const wsjtx::Message &m) { return m.type == quint32(wsjtx::Type::Clear); }, then);
        };
        // A second Clear in a row would be WSJT-X's last datagram again: it would not echo it.
        if (m_link.lastWasClear())
            return replayShows(call, QStringLiteral("WSJT-X did not answer a Replay"),
                               [](const wsjtx::Status &) { return true; }, clear);
        return clear();
    }
    default: // whitespace between tags; the rest is refused before the call runs
        return then();
    }
}

// The mode alone: the T/R period goes as "no change", so that the new mode keeps its own, as
// after a change in WSJT-X's own window. The Fast flag has no "no change"; false names the plain
// mode. Measured on WSJT-X 2.6.1, its Status then shows Fast on in MSK144 (always fast, whatever
// is sent) and off elsewhere, as after a change in its window; JT9 showed no Fast even when true
// was sent.
void WsjtxDriver::setMode(const RunningCall &call, const QString &mode, Then then)
{
    request(call, wsjtx::configure(m_link.id(), mode, wsjtx::noChange, false),
            QStringLiteral("WSJT-X did not change to mode %1").arg(mode),
            [mode](const wsjtx::Message &m) { return m.status && m.status->mode == mode; }, then);
}

// An Rx DF change brings no Status: Replays show it, a moment after the Configure on a real
// WSJT-X. Set within some 0.1 s of a mode change (this call's, or the operator's), WSJT-X puts
// the Rx DF before it back about 50 ms later: it is read again once settled, and sent again
// while it does not hold. One that never shows (beyond WSJT-X's limits) fails, saying what
// WSJT-X shows instead.
void WsjtxDriver::setRxDf(const RunningCall &call, quint32 hz, Then then, int sends)
{
    const bool fast = m_link.latest() && m_link.latest()->fastMode; // the mode's own, left as it is
    m_rxDfUnsure = true;
    request(call, wsjtx::configure(m_link.id(), QString(), hz, fast), QStringLiteral("WSJT-X did not show Rx DF %1").arg(hz),
            nullptr, [=, this] { awaitRxDf(call, hz, then, sends, 0); });
}

void WsjtxDriver::awaitRxDf(const RunningCall &call, quint32 hz, Then then, int sends, int reads)
{
    const QString awaited = QStringLiteral("WSJT-X did not show Rx DF %1").arg(hz);
    auto any = [](const wsjtx::Status &) { return true; };
    auto shown = [this] { return m_link.latest() ? m_link.latest()->rxDf : 0; };
    auto again = [=, this](quint32 now) {
        if (sends >= rxDfSends)
            return call.fail({Cause::NotCarriedOut, QStringLiteral("WSJT-X did not take Rx DF %1: it shows %2").arg(hz).arg(now)});
        setRxDf(call, hz, then, sends + 1);
    };
    replayShows(call, awaited, any, [=, this] {
        if (const quint32 now = shown(); now != hz) {
            if (reads + 1 >= rxDfReads)
                return again(now);
            call.awaiting(QStringLiteral("WSJT-X did not take Rx DF %1").arg(hz), QStringLiteral(": it shows %1").arg(now));
            return call.after(settleMs, [=, this] { awaitRxDf(call, hz, then, sends, reads + 1); });
        }
        call.after(settleMs, [=, this] {
            replayShows(call, awaited, any, [=, this] {
                if (const quint32 now = shown(); now != hz)
                    return again(now);
                m_rxDfUnsure = false;
                then();
            });
        });
    });
}

// HaltTx always, whatever the view shows: WSJT-X may have started transmitting since its last
// Status. It sends a Status only for a HaltTx that changed something, so a Replay follows; a
// Status with Tx Enabled (and for <RXANDCLEAR>, Transmitting) false confirms it.
void WsjtxDriver::halt(const RunningCall &call, bool autoOnly, Then then)
{
    auto halted = [autoOnly](const wsjtx::Status &s) { return !s.txEnabled && (autoOnly || !s.transmitting); };
    const QString awaited = autoOnly ? QStringLiteral("WSJT-X did not turn Enable Tx off")
                                     : QStringLiteral("WSJT-X did not stop transmitting");
    request(call, wsjtx::haltTx(m_link.id(), autoOnly), awaited, nullptr,
            [=, this] { replayShows(call, awaited, halted, then); });
}

void WsjtxDriver::undo(RunningCall call, Undo undo, Confirmed then)
{
    if (!undo.receive) // its transmit text is not ours to drop
        return then(false);
    halt(call, false, [then] { then(false); });
}

// One Replay; its Status must show what is asked.
void WsjtxDriver::replayShows(const RunningCall &call, const QString &awaited,
                              const std::function<bool(const wsjtx::Status &)> &shows, Then then)
{
    request(call, wsjtx::replay(m_link.id()), awaited, [shows](const wsjtx::Message &m) { return m.status && shows(*m.status); },
            then);
}

void WsjtxDriver::request(const RunningCall &call, const QByteArray &datagram, const QString &awaited, Shows shows, Then then)
{
    if (!m_link.following())
        return call.fail({Cause::NotRunning, QStringLiteral("no WSJT-X heard: %1").arg(m_link.name())});
    // A Replay changes nothing; only what comes back from the WSJT-X followed is taken.
    const bool replay = datagram == wsjtx::replay(m_link.id());
    if (const QString rival = m_link.rival(); !rival.isEmpty() && !replay)
        return call.fail({Cause::Refused, rival});
    if (m_link.accepts() != WsjtxLink::Accepts::Yes) {
        // The operator may have turned the setting on since: a check of this call's own tells.
        const bool own = m_link.checkAccepts();
        auto checked = std::make_shared<QMetaObject::Connection>();
        *checked = QObject::connect(&m_link, &WsjtxLink::acceptsChecked, &m_link,
                                    [=, this](WsjtxLink::Accepts accepts) {
                                        QObject::disconnect(*checked);
                                        if (!call.running())
                                            return;
                                        if (accepts != WsjtxLink::Accepts::Yes && own)
                                            return call.fail({Cause::Refused,
                                                              QStringLiteral("%1 drops every request: turn on \"Accept UDP "
                                                                             "requests\" in its Settings, Reporting tab")
                                                                  .arg(m_link.name())});
                                        request(call, datagram, awaited, shows, then);
                                    });
        return;
    }
    if (!replay)
        call.sent();
    m_link.send(datagram);
    if (!shows) // nothing comes back for it
        return then();
    await(call, awaited, std::move(shows), std::move(then));
}

void WsjtxDriver::await(const RunningCall &call, const QString &awaited, Shows shows, Then then)
{
    call.awaiting(awaited);
    m_awaited = awaited;
    m_waiting = call;
    m_shows = std::move(shows);
    m_then = std::move(then);
    m_recheck.start();
}

std::optional<BridgeFailure> WsjtxDriver::cancel()
{
    // Ended while an answer was awaited, or with an Rx DF sent and not seen to hold (its change
    // brings no Status): what WSJT-X shows now, the view learns from a Replay, which changes
    // nothing.
    if ((m_shows || std::exchange(m_rxDfUnsure, false)) && m_link.accepts() == WsjtxLink::Accepts::Yes)
        m_link.send(wsjtx::replay(m_link.id()));
    m_shows = nullptr;
    m_then = nullptr;
    m_recheck.stop();
    return std::nullopt; // the runner names what was awaited
}
