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
        m_waiting->awaiting({});
        std::exchange(m_then, nullptr)();
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
        return setRxDf(call, quint32(step.hz), then);
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

void WsjtxDriver::setMode(const RunningCall &call, const QString &mode, Then then)
{
    request(call, wsjtx::configure(m_link.id(), mode, wsjtx::noChange, m_link.latest().value_or(wsjtx::Status{})),
            QStringLiteral("WSJT-X did not change to mode %1").arg(mode),
            [mode](const wsjtx::Message &m) { return m.status && m.status->mode == mode; }, then);
}

// An Rx DF change brings no Status: Replays show it, a moment after the Configure on a real
// WSJT-X. It may then undo it (just after a mode change), so it is read again once settled.
void WsjtxDriver::setRxDf(const RunningCall &call, quint32 hz, Then then)
{
    const std::optional<wsjtx::Status> latest = m_link.latest();
    request(call, wsjtx::configure(m_link.id(), QString(), hz, latest.value_or(wsjtx::Status{})),
            QStringLiteral("WSJT-X did not show Rx DF %1").arg(hz), nullptr, [=, this] { awaitRxDf(call, hz, then); });
}

void WsjtxDriver::awaitRxDf(const RunningCall &call, quint32 hz, Then then)
{
    const QString awaited = QStringLiteral("WSJT-X did not show Rx DF %1").arg(hz);
    auto any = [](const wsjtx::Status &) { return true; };
    replayShows(call, awaited, any, [=, this] {
        if (const quint32 now = m_link.latest() ? m_link.latest()->rxDf : 0; now != hz) {
            call.awaiting(QStringLiteral("WSJT-X did not take Rx DF %1").arg(hz), QStringLiteral(": it shows %1").arg(now));
            return call.after(settleMs, [=, this] { awaitRxDf(call, hz, then); });
        }
        call.after(settleMs, [=, this] {
            replayShows(call, awaited, any, [=, this] {
                const quint32 now = m_link.latest() ? m_link.latest()->rxDf : 0;
                if (now != hz)
                    return call.fail({Cause::NotCarriedOut, QStringLiteral("WSJT-X did not take Rx DF %1: it shows %2").arg(hz).arg(now)});
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
    call.sent();
    m_link.send(datagram);
    if (!shows) // nothing comes back for it
        return then();
    await(call, awaited, std::move(shows), std::move(then));
}

void WsjtxDriver::await(const RunningCall &call, const QString &awaited, Shows shows, Then then)
{
    call.awaiting(awaited);
    m_waiting = call;
    m_shows = std::move(shows);
    m_then = std::move(then);
}

std::optional<BridgeFailure> WsjtxDriver::cancel()
{
    m_shows = nullptr;
    m_then = nullptr;
    return std::nullopt; // the runner names what was awaited
}
