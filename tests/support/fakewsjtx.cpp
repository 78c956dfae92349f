// SPDX-License-Identifier: GPL-3.0-or-later
#include "fakewsjtx.h"

#include <QTimer>

#include <QDataStream>
#include <QNetworkDatagram>

FakeWsjtx::FakeWsjtx(quint16 bridgePort, const QString &id) : m_bridgePort(bridgePort), m_id(id)
{
    status.dialHz = 14074000;
    status.mode = QStringLiteral("FT8");
    status.rxDf = 1500;
    m_socket.bind(QHostAddress::LocalHost, 0);
    connect(&m_socket, &QUdpSocket::readyRead, this, &FakeWsjtx::take);
}

QByteArray FakeWsjtx::header(wsjtx::Type type) const
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_5_4);
    out << wsjtx::magic << wsjtx::schema << quint32(type) << m_id.toUtf8();
    return bytes;
}

void FakeWsjtx::heartbeat()
{
    QByteArray bytes = header(wsjtx::Type::Heartbeat);
    QDataStream out(&bytes, QIODevice::Append);
    out << wsjtx::schema << QByteArray("2.6.1") << QByteArray("");
    send(bytes, true); // every 15 s, whatever went before
}

void FakeWsjtx::sendStatus()
{
    QByteArray bytes = header(wsjtx::Type::Status);
    QDataStream out(&bytes, QIODevice::Append);
    const QByteArray none;
    out << status.dialHz << status.mode.toUtf8() << none << none << none << status.txEnabled << status.transmitting
        << false << status.rxDf << quint32(1500) << none << none << none << false << none << status.fastMode
        << quint8(0) << wsjtx::noChange << status.trPeriod << none << none;
    send(bytes, true);
}

void FakeWsjtx::close()
{
    send(header(wsjtx::Type::Close));
    m_socket.close();
}

void FakeWsjtx::send(const QByteArray &datagram, bool evenIfRepeated)
{
    if (datagram == m_last && !evenIfRepeated)
        return;
    m_last = datagram;
    m_socket.writeDatagram(datagram, QHostAddress::LocalHost, m_bridgePort);
}

void FakeWsjtx::take()
{
    while (m_socket.hasPendingDatagrams()) {
        QDataStream in(m_socket.receiveDatagram().data());
        in.setVersion(QDataStream::Qt_5_4);
        quint32 magic = 0, schema = 0, type = 0;
        QByteArray id;
        in >> magic >> schema >> type >> id;
        const QList<wsjtx::Type> known{wsjtx::Type::Replay, wsjtx::Type::HaltTx, wsjtx::Type::Clear, wsjtx::Type::Configure};
        if (magic != wsjtx::magic || !acceptsRequests || !known.contains(wsjtx::Type(type)))
            continue; // a type it does not know it ignores, as WSJT-X does
        requests.append(type);
        const wsjtx::Status before = status;
        switch (wsjtx::Type(type)) {
        case wsjtx::Type::Replay:
            sendStatus();
            if (std::exchange(m_undoing, false))
                status.rxDf = 1500;
            continue;
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
            send(header(wsjtx::Type::Clear));
            break;
        case wsjtx::Type::Configure: {
            QByteArray mode, submode;
            quint32 tolerance = 0, period = 0, rxDf = 0;
            bool fast = false;
            in >> mode >> tolerance >> submode >> fast >> period >> rxDf;
            static const QList<QByteArray> modes{"FT8", "FT4", "FST4", "FST4W", "JT4", "JT9", "JT65", "Q65", "MSK144", "WSPR", "FreqCal", "Echo"};
            if (modes.contains(mode))
                status.mode = QString::fromUtf8(mode);
            if (rxDf != wsjtx::noChange) {
                status.rxDf = rxDf;
                m_undoing = undoesRxDf;
            }
            if (status.mode != before.mode)
                sendStatus(); // an Rx DF alone brings none
            continue;
        }
        default:
            break;
        }
        if (!(status == before))
            sendStatus();
    }
}
