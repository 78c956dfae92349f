// SPDX-License-Identifier: GPL-3.0-or-later
#include "fakewsjtx.h"

#include <QDataStream>
#include <QNetworkDatagram>
#include <QTimer>

FakeWsjtx::FakeWsjtx(quint16 bridgePort, const QString &id) : m_bridgePort(bridgePort), m_id(id)
{
    status.dialHz = 14074000;
    status.mode = QStringLiteral("FT8");
    status.rxDf = 1500;
    m_socket.bind(QHostAddress::LocalHost, 0);
    connect(&m_socket, &QUdpSocket::readyRead, this, &FakeWsjtx::take);
}

QByteArray FakeWsjtx::header(wsjtx::Type type, const QString &id) const
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_5_4);
    out << wsjtx::magic << wsjtx::schema << quint32(type) << id.toUtf8();
    return bytes;
}

QByteArray FakeWsjtx::statusDatagram(const QString &id) const
{
    QByteArray bytes = header(wsjtx::Type::Status, id);
    QDataStream out(&bytes, QIODevice::Append);
    const QByteArray none;
    out << status.dialHz << status.mode.toUtf8() << none << none << none << status.txEnabled << status.transmitting
        << false << status.rxDf << quint32(1500) << none << none << none << false << none << status.fastMode
        << quint8(0) << wsjtx::noChange << periods.value(status.mode, wsjtx::noChange) << none << none;
    return bytes;
}

void FakeWsjtx::heartbeat()
{
    QByteArray bytes = header(wsjtx::Type::Heartbeat, m_id);
    QDataStream out(&bytes, QIODevice::Append);
    out << wsjtx::schema << QByteArray("2.6.1") << QByteArray("");
    send(bytes, true); // every 15 s, whatever went before
}

void FakeWsjtx::sendStatus()
{
    note();
    send(statusDatagram(m_id), true);
}

void FakeWsjtx::sendStatusAs(const QString &id)
{
    m_socket.writeDatagram(statusDatagram(id), QHostAddress::LocalHost, m_bridgePort);
}

void FakeWsjtx::close(int portOpenMs)
{
    send(header(wsjtx::Type::Close, m_id));
    QTimer::singleShot(portOpenMs, this, [this] { m_socket.close(); });
}

void FakeWsjtx::send(const QByteArray &datagram, bool evenIfRepeated)
{
    if (datagram == m_last && !evenIfRepeated)
        return;
    m_last = datagram;
    if (!faults.random)
        return deliver(datagram);
    if (faults.random->generateDouble() < faults.lost)
        return;
    const int copies = faults.random->generateDouble() < faults.duplicated ? 2 : 1;
    for (int i = 0; i < copies; ++i) {
        const int late = faults.lateMs ? faults.random->bounded(faults.lateMs + 1) : 0;
        QTimer::singleShot(late, this, [this, datagram] { deliver(datagram); });
    }
}

void FakeWsjtx::deliver(const QByteArray &datagram)
{
    if (m_socket.state() == QAbstractSocket::BoundState)
        m_socket.writeDatagram(datagram, QHostAddress::LocalHost, m_bridgePort);
}

void FakeWsjtx::take()
{
    while (m_socket.hasPendingDatagrams()) {
        const QByteArray datagram = m_socket.receiveDatagram().data();
        if (!faults.random)
            takeRequest(datagram);
        else if (faults.random->generateDouble() >= faults.lost)
            QTimer::singleShot(faults.lateMs ? faults.random->bounded(faults.lateMs + 1) : 0, this,
                               [this, datagram] { takeRequest(datagram); });
    }
}

void FakeWsjtx::takeRequest(const QByteArray &datagram)
{
    QDataStream in(datagram);
    in.setVersion(QDataStream::Qt_5_4);
    quint32 magic = 0, schema = 0, type = 0;
    QByteArray id;
    in >> magic >> schema >> type >> id;
    const QList<wsjtx::Type> known{wsjtx::Type::Replay, wsjtx::Type::HaltTx, wsjtx::Type::Clear, wsjtx::Type::Configure};
    if (magic != wsjtx::magic || !acceptsRequests || !known.contains(wsjtx::Type(type)) || m_socket.state() != QAbstractSocket::BoundState)
        return; // a type it does not know it ignores, as WSJT-X does
    requests.append(type);
    if (clock)
        taken.append({clock->elapsed(), type});
    const wsjtx::Status before = status;
    switch (wsjtx::Type(type)) {
    case wsjtx::Type::Replay:
        return sendStatus();
    case wsjtx::Type::HaltTx: {
        bool autoOnly = false;
        in >> autoOnly;
        status.txEnabled = false;
        if (haltsSlowly && status.transmitting && !autoOnly) {
            QTimer::singleShot(100, this, [this] {
                status.transmitting = false;
                sendStatus();
            });
            break;
        }
        status.transmitting = status.transmitting && autoOnly;
        break;
    }
    case wsjtx::Type::Clear:
        send(header(wsjtx::Type::Clear, m_id));
        return;
    case wsjtx::Type::Configure: {
        QByteArray mode, submode;
        quint32 tolerance = 0, period = 0, rxDf = 0;
        bool fast = false;
        in >> mode >> tolerance >> submode >> fast >> period >> rxDf;
        static const QList<QByteArray> modes{"FT8", "FT4", "FST4", "FST4W", "JT4", "JT9", "JT65", "Q65", "MSK144", "WSPR", "FreqCal", "Echo"};
        if (modes.contains(mode) && status.mode != QString::fromUtf8(mode))
            changeMode(QString::fromUtf8(mode));
        if (period != wsjtx::noChange && periods.contains(status.mode))
            periods[status.mode] = period;
        if (rxDf != wsjtx::noChange) {
            const quint32 was = status.rxDf;
            status.rxDf = std::min(rxDf, quint32(5000));
            if (m_modeChanged.isValid() && m_modeChanged.elapsed() < 100)
                putBackLater(was);
            m_rxDfBefore = was;
            m_rxDfChanged.start();
        }
        if (status.mode != before.mode)
            sendStatus(); // an Rx DF alone brings none
        note();
        return;
    }
    default:
        break;
    }
    if (!(status == before))
        sendStatus();
}

// A mode change close after an Rx DF change puts the Rx DF before it back.
void FakeWsjtx::changeMode(const QString &mode)
{
    status.mode = mode;
    m_modeChanged.start();
    if (m_rxDfChanged.isValid() && m_rxDfChanged.elapsed() < 100)
        putBackLater(m_rxDfBefore);
}

void FakeWsjtx::putBackLater(quint32 rxDf)
{
    QTimer::singleShot(30, this, [this, rxDf] {
        status.rxDf = rxDf;
        note();
    });
}

void FakeWsjtx::note()
{
    if (clock && (history.isEmpty() || !(history.last().status == status)))
        history.append({clock->elapsed(), status});
}
