// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "wsjtxmessage.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QTimer>
#include <QUdpSocket>

class BridgeLog;
class Presence;

// The messages of one WSJT-X: the first heard, or the first with the given Id. WSJT-X is the
// client: it sends to the address this listens on, from a port of its own, and takes requests
// on that port. Once one is followed, only what comes from its address and port with its Id is
// taken. Another sender that claims it (its Id from elsewhere, or without a given Id any other
// sender) is a rival: said at warning level, and told by rival() until it has not been heard
// for as long as two missed heartbeats.
//
// WSJT-X's start-up sends a burst of Status messages with passing values (a dial of 0, then
// 145 MHz): its state counts as known once Status has been quiet for quietMs; after that every
// Status is current. What the link hears it tells a Presence: every message from then on, and
// WSJT-X gone, by its Close, by a closed port (a datagram it ignores, sent once a second, comes
// back "port unreachable" on this machine), or by two missed heartbeats. The datagram is a
// message of a type WSJT-X does not know: it ignores those without a word.
class WsjtxLink : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        QHostAddress listen = QHostAddress::LocalHost;
        quint16 port = 2237;
        QHostAddress group = {}; // a multicast group joined instead, on the listen address's interface
        QString id = {};         // empty: the first heard
        int probeMs = 1000;
        int heartbeatsMissedMs = 35000; // two of WSJT-X's 15 s heartbeats, and room
        int acceptsWithinMs = 1000;     // a Replay's Status comes within this when requests are taken
    };

    WsjtxLink(Presence &presence, BridgeLog &log, Options options, QObject *parent = nullptr);

    QString open(); // binds; says why it cannot
    quint16 port() const { return m_socket.localPort(); }
    bool following() const { return !m_id.isEmpty(); }
    QString id() const { return m_id; }
    QString name() const; // "WSJT-X \"<Id>\" at <address>:<port>", or where it is listened for
    static constexpr int quietMs = 300;
    const std::optional<wsjtx::Status> &latest() const { return m_latest; }
    bool settled() const { return m_settled; }
    bool lastWasClear() const { return m_lastWasClear; }
    // Who else claims to be the WSJT-X followed, heard lately; empty: no one.
    QString rival() const;

    // Whether WSJT-X takes requests: checked at first contact, and again a while after each No
    // (and whenever asked). A check is a Replay, answered by a Status the same as the one before.
    // False: a check was already running.
    enum class Accepts { Unknown, Yes, No };
    Accepts accepts() const { return m_accepts; }
    bool checkAccepts();

    void send(const QByteArray &datagram);

signals:
    void message(const wsjtx::Message &message); // each one from the WSJT-X followed
    void quiet(); // Status has been quiet for quietMs, the first time: settled
    void gone(const QString &why);
    void acceptsChecked(Accepts accepts);

private:
    void readDatagrams();
    void probe();
    void take(const wsjtx::Message &message, const QByteArray &bytes, const QHostAddress &from, quint16 port);
    void lose(const QString &why);
    void rivalHeard(const wsjtx::Message &heard, const QHostAddress &from, quint16 port);

    Presence &m_presence;
    BridgeLog &m_log;
    const Options m_options;
    QUdpSocket m_socket;
    QUdpSocket m_probe; // connected to WSJT-X's port, so that "port unreachable" comes back to it
    QTimer m_probeTimer;
    QTimer m_heartbeats;
    QTimer m_acceptsDeadline;
    QTimer m_acceptsAgain;
    QTimer m_quiet;
    bool m_settled = false;

    QString m_id;
    QHostAddress m_peer;
    quint16 m_peerPort = 0;
    std::optional<wsjtx::Status> m_latest;
    QByteArray m_latestBytes;
    bool m_lastWasClear = false;
    Accepts m_accepts = Accepts::Unknown;
    quint64 m_answersAtProbe = 0;
    QString m_rival; // "<Id> at <address>:<port>"
    QElapsedTimer m_rivalHeard;
};
