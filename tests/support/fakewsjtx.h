// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "wsjtxmessage.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QRandomGenerator>
#include <QUdpSocket>

// A stand-in WSJT-X on loopback, as the bridge hears it: it sends its messages to the bridge's
// port from a port of its own, and takes requests there as WSJT-X 2.6.1 does. It answers a
// Replay with its Status, a Configure's mode with a Status, a HaltTx with a Status when that
// changed anything, and echoes a Clear; an Rx DF set brings no Status; it never sends a datagram
// identical to its last, a Replay's Status apart; with requests off it drops every one. Each
// mode keeps its own T/R period; an Rx DF beyond 5000 is taken as 5000, and one set within
// 0.1 s of a mode change is put back 30 ms later. What it was in is kept in its history.
class FakeWsjtx : public QObject
{
public:
    FakeWsjtx(quint16 bridgePort, const QString &id = QStringLiteral("WSJT-X"));

    wsjtx::Status status;
    bool acceptsRequests = true;
    bool haltsSlowly = false;    // a HaltTx turns Enable Tx off at once, and transmitting 100 ms later
    QList<quint32> requests;     // the types of the requests taken, in order
    QHash<QString, quint32> periods{{"FST4", 60}, {"FST4W", 120}, {"Q65", 30}, {"MSK144", 15}}; // T/R, by mode

    // What the network does to its datagrams, both ways: drawn from random, when given.
    struct Faults
    {
        QRandomGenerator *random = nullptr;
        double lost = 0, duplicated = 0;
        int lateMs = 0; // each datagram up to this late, so that some overtake others
    } faults;

    struct Moment
    {
        qint64 ms;
        wsjtx::Status status;
    };
    const QElapsedTimer *clock = nullptr; // when set, every state it was in, from when
    QList<Moment> history;
    QList<std::pair<qint64, quint32>> taken; // each request's type, and when it came

    void heartbeat();
    void sendStatus();
    void sendStatusAs(const QString &id); // a Status with another Id, from its own port
    void close(int portOpenMs = 110);     // its Close, then its port closed, as it exits
    void kill() { m_socket.close(); }     // gone without a word: its port closed
    void sendRaw(const QByteArray &datagram) { m_socket.writeDatagram(datagram, QHostAddress::LocalHost, m_bridgePort); }
    quint16 port() const { return m_socket.localPort(); }

private:
    QByteArray header(wsjtx::Type type, const QString &id) const;
    QByteArray statusDatagram(const QString &id) const;
    void send(const QByteArray &datagram, bool evenIfRepeated = false);
    void deliver(const QByteArray &datagram);
    void take();
    void takeRequest(const QByteArray &datagram);
    void changeMode(const QString &mode);
    void putBackLater(quint32 rxDf);
    void note();

    QUdpSocket m_socket;
    quint16 m_bridgePort;
    QString m_id;
    QByteArray m_last;
    QElapsedTimer m_modeChanged, m_rxDfChanged;
    quint32 m_rxDfBefore = 0;
};
