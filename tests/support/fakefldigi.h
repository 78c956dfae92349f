// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMap>
#include <QPointer>
#include <QMutex>
#include <QSemaphore>
#include <QStringList>
#include <QThread>

#include <functional>

class QTcpSocket;

// An XML-RPC server on loopback in a thread of its own, answering fldigi's methods from a
// table over kept-alive connections, and recording every call as "method(type:value,...)".
// It keeps a transmit state as fldigi does: main.tx makes it TX, main.abort and main.rx RX.
class FakeFldigi : public QThread
{
public:
    explicit FakeFldigi(quint16 port = 0); // 0: any free port
    ~FakeFldigi() override;

    quint16 port() const { return m_port; }
    QStringList calls();
    int connections();
    QString trxState();

    void answer(const QString &method, const QByteArray &valueXml); // e.g. "<i4>1500</i4>"
    void answerRaw(const QString &method, const QByteArray &http);  // the whole HTTP answer
    void setTrxStates(const QStringList &states); // main.get_trx_state answers these first
    void setDelay(int ms);                        // each answer comes this late
    // Silent: requests are taken in but neither carried out nor answered, as by a stopped
    // fldigi. Back: they are carried out in order, and answered where the client still listens.
    void setSilent(bool silent);
    void dropConnections(); // closes every connection, as a restarted server would

protected:
    void run() override;

private:
    struct Held
    {
        QPointer<QTcpSocket> socket;
        QByteArray request;
    };

    void take(QTcpSocket *socket);
    QByteArray carryOut(const QByteArray &request); // the HTTP answer
    void inThread(std::function<void()> work);

    QMutex m_mutex;
    QStringList m_calls;
    QMap<QString, QByteArray> m_answers;
    QMap<QString, QByteArray> m_raw;
    QStringList m_trxStates;
    QString m_trx = QStringLiteral("RX");
    QList<Held> m_held;
    int m_connections = 0;
    int m_delayMs = 0;
    bool m_silent = false;
    quint16 m_port;
    QObject *m_context = nullptr;
    QSemaphore m_ready;
};
