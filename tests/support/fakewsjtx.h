// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "wsjtxmessage.h"

#include <QList>
#include <QUdpSocket>

// A stand-in WSJT-X on loopback, as the bridge hears it: it sends its messages to the bridge's
// port from a port of its own, and takes requests there as WSJT-X 2.6.1 does. It answers a
// Replay with its Status, a Configure's mode with a Status, a HaltTx with a Status when that
// changed anything, and echoes a Clear; an Rx DF set brings no Status; it never sends a datagram
// identical to its last, a Replay's Status apart; with requests off it drops every one.
class FakeWsjtx : public QObject
{
public:
    FakeWsjtx(quint16 bridgePort, const QString &id = QStringLiteral("WSJT-X"));

    wsjtx::Status status;
    bool acceptsRequests = true;
    bool undoesRxDf = false;     // an Rx DF set is 1500 again after one Replay, as one just after a mode change
    bool haltsSlowly = false;    // a HaltTx turns Enable Tx off at once, and transmitting 100 ms later
    QList<quint32> requests;     // the types of the requests taken, in order

    void heartbeat();
    void sendStatus();
    void close();                // its Close, then gone
    void kill() { m_socket.close(); } // gone without a word: its port closed
    void sendRaw(const QByteArray &datagram) { m_socket.writeDatagram(datagram, QHostAddress::LocalHost, m_bridgePort); }

private:
    QByteArray header(wsjtx::Type type) const;
    void send(const QByteArray &datagram, bool evenIfRepeated = false);
    void take();

    QUdpSocket m_socket;
    quint16 m_bridgePort;
    QString m_id;
    QByteArray m_last;
    bool m_undoing = false;
};
