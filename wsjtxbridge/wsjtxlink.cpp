// SPDX-License-Identifier: GPL-3.0-or-later
#include "wsjtxlink.h"

#include "bridgelog.h"
#include "presence.h"

#include <QNetworkDatagram>
#include <QNetworkInterface>

#include <cerrno>
#include <sys/socket.h>

WsjtxLink::WsjtxLink(Presence &presence, BridgeLog &log, Options options, QObject *parent)
    : QObject(parent), m_presence(presence), m_log(log), m_options(std::move(options))
{
    connect(&m_socket, &QUdpSocket::readyRead, this, &WsjtxLink::readDatagrams);
    m_probeTimer.setInterval(m_options.probeMs);
    connect(&m_probeTimer, &QTimer::timeout, this, &WsjtxLink::probe);
    m_heartbeats.setSingleShot(true);
    m_heartbeats.setInterval(m_options.heartbeatsMissedMs);
    connect(&m_heartbeats, &QTimer::timeout, this, [this] { lose(QStringLiteral("no heartbeat for %1 s").arg(m_options.heartbeatsMissedMs / 1000)); });
    m_quiet.setSingleShot(true);
    m_quiet.setInterval(quietMs);
    connect(&m_quiet, &QTimer::timeout, this, [this] {
        if (!std::exchange(m_settled, true))
            m_presence.answered();
        emit quiet();
    });
    m_acceptsDeadline.setSingleShot(true);
    m_acceptsDeadline.setInterval(m_options.acceptsWithinMs);
    connect(&m_acceptsDeadline, &QTimer::timeout, this, [this] {
        if (std::exchange(m_accepts, Accepts::No) != Accepts::No)
            m_log.warning(QStringLiteral("%1 drops requests: reads work, macros are refused until \"Accept UDP "
                                         "requests\" is on (Settings, Reporting)").arg(name()));
        emit acceptsChecked(m_accepts);
        // Checked again a while later: WSJT-X does not say when its operator turns requests on,
        // and a Replay then shows what it may have changed unannounced (an Rx DF).
        m_acceptsAgain.start();
    });
    m_acceptsAgain.setSingleShot(true);
    m_acceptsAgain.setInterval(m_options.acceptsWithinMs);
    connect(&m_acceptsAgain, &QTimer::timeout, this, [this] {
        if (following() && m_accepts == Accepts::No)
            checkAccepts();
    });
}

QString WsjtxLink::open()
{
    const bool multicast = !m_options.group.isNull();
    // Bound to the group itself, it takes no unicast from the network; others may share the port.
    const QHostAddress bindTo = multicast ? m_options.group : m_options.listen;
    const auto mode = multicast ? QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint
                                : QAbstractSocket::DefaultForPlatform;
    if (!m_socket.bind(bindTo, m_options.port, mode))
        return QStringLiteral("cannot listen at %1:%2: %3").arg(bindTo.toString()).arg(m_options.port).arg(m_socket.errorString());
    if (multicast) {
        QNetworkInterface interface;
        for (const QNetworkInterface &candidate : QNetworkInterface::allInterfaces()) {
            for (const QNetworkAddressEntry &entry : candidate.addressEntries()) {
                if (entry.ip() == m_options.listen)
                    interface = candidate;
            }
        }
        const bool joined = interface.isValid() ? m_socket.joinMulticastGroup(m_options.group, interface)
                                                : m_socket.joinMulticastGroup(m_options.group);
        if (!joined)
            return QStringLiteral("cannot join %1: %2").arg(m_options.group.toString(), m_socket.errorString());
    }
    return {};
}

QString WsjtxLink::name() const
{
    if (!following()) {
        const QHostAddress where = m_options.group.isNull() ? m_options.listen : m_options.group;
        return QStringLiteral("WSJT-X%1 (listening at %2:%3)")
            .arg(m_options.id.isEmpty() ? QString() : QStringLiteral(" \"%1\"").arg(m_options.id), where.toString())
            .arg(m_options.port);
    }
    return QStringLiteral("WSJT-X \"%1\" at %2:%3").arg(m_id, m_peer.toString()).arg(m_peerPort);
}

void WsjtxLink::readDatagrams()
{
    while (m_socket.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_socket.receiveDatagram(65536);
        if (const auto message = wsjtx::read(datagram.data()))
            take(*message, datagram.data(), datagram.senderAddress(), quint16(datagram.senderPort()));
    }
}

void WsjtxLink::take(const wsjtx::Message &heard, const QByteArray &bytes, const QHostAddress &from, quint16 port)
{
    if (!following()) {
        const bool first = heard.type == quint32(wsjtx::Type::Heartbeat) || heard.type == quint32(wsjtx::Type::Status);
        if (!first || (!m_options.id.isEmpty() && heard.id != m_options.id))
            return;
        m_id = heard.id;
        m_peer = from;
        m_peerPort = port;
        m_probe.abort();
        m_probe.connectToHost(from, port);
        m_probeTimer.start();
        m_log.info(QStringLiteral("heard %1").arg(name()));
        checkAccepts(); // and learns its state, as a bridge started beside an idle WSJT-X must
    } else if (heard.id != m_id || from != m_peer || port != m_peerPort) {
        return rivalHeard(heard, from, port);
    }
    m_heartbeats.start();
    m_lastWasClear = heard.type == quint32(wsjtx::Type::Clear);
    if (heard.type == quint32(wsjtx::Type::Close))
        return lose(QStringLiteral("it closed"));
    // WSJT-X never sends a datagram identical to its last but for a Replay: a Status the same
    // as the one before tells that it took the Replay.
    const bool checking = heard.status && m_acceptsDeadline.isActive();
    const bool accepted = checking && bytes == m_latestBytes;
    const bool first = checking && m_latestBytes.isEmpty();
    if (heard.status) {
        m_latest = heard.status;
        m_latestBytes = bytes;
    }
    if (m_settled)
        m_presence.answered();
    if (heard.status && !m_settled)
        m_quiet.start();
    emit message(heard);
    if (accepted) { // after the message, which no request sent now can have brought
        m_acceptsDeadline.stop();
        m_accepts = Accepts::Yes;
        emit acceptsChecked(m_accepts);
    } else if (first) { // nothing to compare it with: a second Replay must bring it again
        m_acceptsDeadline.stop();
        checkAccepts();
    }
}

// Two programs that claim one Id cannot be told apart by what they send: the one followed may
// be the impostor. Requests wait until only one is heard.
void WsjtxLink::rivalHeard(const wsjtx::Message &heard, const QHostAddress &from, quint16 port)
{
    if (heard.id != m_id && !m_options.id.isEmpty())
        return; // another WSJT-X, with an Id of its own: not ours to follow
    const QString rival = QStringLiteral("\"%1\" at %2:%3").arg(heard.id, from.toString()).arg(port);
    if (std::exchange(m_rival, rival) != rival || !m_rivalHeard.isValid()
        || m_rivalHeard.elapsed() >= m_options.heartbeatsMissedMs)
        m_log.warning(QStringLiteral("%1 is followed, and %2 speaks as WSJT-X too: macros are refused while both are "
                                     "heard. Give each WSJT-X an Id of its own (its --rig-name) and this bridge --id")
                          .arg(name(), rival));
    m_rivalHeard.start();
}

QString WsjtxLink::rival() const
{
    if (!m_rivalHeard.isValid() || m_rivalHeard.elapsed() >= m_options.heartbeatsMissedMs)
        return {};
    return QStringLiteral("%1 and %2 both speak as WSJT-X: no request is sent while both are heard; give each WSJT-X an "
                          "Id of its own (its --rig-name) and this bridge --id")
        .arg(name(), m_rival);
}

// A closed port answers the last probe with "port unreachable", which the kernel keeps as the
// probe socket's error until it is asked for; nothing WSJT-X sent since may have come.
void WsjtxLink::probe()
{
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(int(m_probe.socketDescriptor()), SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == ECONNREFUSED
        && m_presence.answers() == m_answersAtProbe)
        return lose(QStringLiteral("its port is closed"));
    m_answersAtProbe = m_presence.answers();
    m_probe.write(wsjtx::unknown(m_id));
}

bool WsjtxLink::checkAccepts()
{
    if (m_acceptsDeadline.isActive())
        return false;
    send(wsjtx::replay(m_id));
    m_acceptsDeadline.start();
    return true;
}

void WsjtxLink::send(const QByteArray &datagram)
{
    if (following())
        m_socket.writeDatagram(datagram, m_peer, m_peerPort);
}

void WsjtxLink::lose(const QString &why)
{
    if (!following())
        return;
    const QString was = name();
    m_id.clear();
    m_latest.reset();
    m_latestBytes.clear();
    m_settled = false;
    m_quiet.stop();
    m_accepts = Accepts::Unknown;
    m_lastWasClear = false;
    m_probeTimer.stop();
    m_heartbeats.stop();
    m_acceptsDeadline.stop();
    m_acceptsAgain.stop();
    m_probe.abort();
    m_rival.clear();
    m_rivalHeard.invalidate();
    m_presence.silent(QStringLiteral("%1: %2").arg(was, why), m_presence.answers());
    emit gone(why);
}
