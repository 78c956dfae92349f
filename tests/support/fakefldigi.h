#pragma once

#include <QMutex>
#include <QSemaphore>
#include <QStringList>
#include <QThread>
#include <QVariantMap>

// An XML-RPC server on loopback in a thread of its own, answering fldigi's methods from a
// table and recording every call as "method(param,...)".
class FakeFldigi : public QThread
{
public:
    FakeFldigi();
    ~FakeFldigi() override;

    quint16 port() const { return m_port; }
    QStringList calls();
    void answer(const QString &method, const QByteArray &valueXml); // e.g. "<i4>1500</i4>"
    void setTrxStates(const QStringList &states); // main.get_trx_state answers these in turn
    void setSilent(bool silent); // accept connections, never answer

protected:
    void run() override;

private:
    QByteArray reply(const QByteArray &request);

    QMutex m_mutex;
    QStringList m_calls;
    QMap<QString, QByteArray> m_answers;
    QStringList m_trxStates;
    bool m_silent = false;
    quint16 m_port = 0;
    QSemaphore m_ready;
};
