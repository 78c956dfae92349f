// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMap>
#include <QMutex>
#include <QPointer>
#include <QSemaphore>
#include <QStringList>
#include <QThread>

#include <functional>

class QTcpSocket;

// An XML-RPC server on loopback in a thread of its own, standing in for fldigi over kept-alive
// connections, system.multicall included. It records every method it receives, each of a
// multicall on its own, as "method(type:value,...)", and keeps fldigi's state: the carrier, rig
// frequency, modem and rig mode that the set methods change and the get methods read, and the
// transmit state (main.tx makes it TX, main.abort and main.rx RX). As fldigi does, it sets a rig
// mode later than the request that asks for it: the reads in the same request show the old one.
// Its transmit text is kept (text.add_tx adds, text.clear_tx and main.rx drop it); once airing is
// on, it is sent a character at a time while it transmits, and what goes on air is recorded.
class FakeFldigi : public QThread
{
public:
    explicit FakeFldigi(quint16 port = 0); // 0: any free port
    ~FakeFldigi() override;

    quint16 port() const { return m_port; }
    QStringList calls();
    int requests();  // HTTP requests, a multicall counting one
    int connections();
    QString trxState();

    void answer(const QString &method, const QByteArray &valueXml); // always this, e.g. "<i4>1500</i4>"
    void fault(const QString &method, const QString &text);         // a fault, in place in a multicall
    void answerRaw(const QString &method, const QByteArray &http);  // the whole HTTP answer to its request; {}: none
    void setTrxStates(const QStringList &states); // main.get_trx_state answers these first
    // Each request is carried out as it comes and answered this late; with a method, only the
    // requests that start with it.
    void setDelay(int ms, const QString &method = {});
    // Silent: requests are taken in but neither carried out nor answered, as by a stopped
    // fldigi. Back: they are carried out in order, and answered where the client still listens.
    void setSilent(bool silent);
    // Silent from a request of this method on, which is held with the rest.
    void silentFrom(const QString &method);
    void dropConnections();  // resets every connection, as a restarted server would
    void closeConnections(); // closes every connection, as a server closing idle ones would
    // Closes each connection a moment after its answer, without saying so in the answer.
    void setCloseAfterAnswer(bool close);
    // Answers in HTTP/1.0, framed by the close of the connection.
    void setCloseFramed(bool framed);
    // Refuses connections from the answer to a request of this method on, until setRefusing(false).
    void refuseAfter(const QString &method);
    void setRefusing(bool refusing);
    // Writes half of each answer and closes the connection.
    void setHalfAnswers(bool half);
    // Sends a character of the transmit text every charMs while it transmits.
    void setAiring(int charMs);
    // main.tx keys ms after it is carried out; meanwhile the state reads RX.
    void setKeyDelay(int ms);
    // fldigi started again: its state back to the defaults.
    void resetState();
    void operatorSetsCarrier(int hz); // a change made at fldigi itself

    // What fldigi showed, from when (ms on the steady clock), and what it carried out, with the
    // transmit state it found.
    struct State
    {
        qint64 sinceMs;
        int carrier;
        double frequency;
        QString modem, rigMode, trx;
    };
    struct CarriedOut
    {
        qint64 atMs;
        QString call, trxBefore;
    };
    // A character on air: when, in the transmission keyed by which main.tx (counted from 1), and
    // of which text (its first word).
    struct Aired
    {
        qint64 atMs;
        int key;
        QString owner;
    };
    QList<State> history();
    QList<CarriedOut> carriedOut();
    QList<Aired> aired();
    static qint64 nowMs();
    // The next count requests that come on a connection that has carried one before are taken
    // in, recorded, and answered by closing the connection: each crossed a close.
    void closeOnRequests(int count);

protected:
    void run() override;

private:
    struct Held
    {
        QPointer<QTcpSocket> socket;
        QByteArray request;
    };

    void take(QTcpSocket *socket);
    void refuse(bool refusing);
    QByteArray carryOut(const QByteArray &request); // the HTTP answer
    QByteArray result(const QString &method, const QStringList &params, bool *fault);
    void remember(); // the state, into the history; with the mutex held
    void inThread(std::function<void()> work);
    void airOne();

    QMutex m_mutex;
    QStringList m_calls;
    QMap<QString, QByteArray> m_answers;
    QMap<QString, QString> m_faults;
    QMap<QString, QByteArray> m_raw;
    QStringList m_trxStates;
    QString m_trx = QStringLiteral("RX");
    int m_carrier = 1500;
    QString m_frequency = QStringLiteral("14070000.000000");
    QString m_modem = QStringLiteral("BPSK31");
    QString m_rigMode = QStringLiteral("USB");
    QList<Held> m_held;
    int m_requests = 0;
    int m_connections = 0;
    int m_delayMs = 0;
    QString m_delayed; // empty: every request
    int m_closeOnRequests = 0;
    bool m_closeAfterAnswer = false;
    bool m_closeFramed = false;
    bool m_halfAnswers = false;
    QList<State> m_history;
    QList<CarriedOut> m_carriedOut;
    QString m_pendingRigMode;
    QList<QPair<QString, QString>> m_pane; // the transmit text: by its add_tx's first word, what is not sent
    QList<Aired> m_aired;
    int m_keys = 0;
    int m_keyDelayMs = 0;
    class QTimer *m_airing = nullptr;
    QString m_refuseAfter;
    QString m_silentFrom;
    bool m_silent = false;
    quint16 m_port;
    QObject *m_context = nullptr;
    class QTcpServer *m_server = nullptr;
    QSemaphore m_ready;
};
