// SPDX-License-Identifier: GPL-3.0-or-later
#include "delayproxy.h"

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

DelayProxy::DelayProxy(quint16 target) : m_target(target)
{
    start();
    m_ready.acquire();
}

DelayProxy::~DelayProxy()
{
    quit();
    wait();
}

void DelayProxy::run()
{
    QObject context;
    QTcpServer server(&context);
    server.listen(QHostAddress::LocalHost, 0);
    m_port = server.serverPort();

    // Bytes from one side reach the other a delay later, in order; a close follows the bytes.
    auto pipe = [this, &context](QTcpSocket *from, QTcpSocket *to, bool toServer) {
        QObject::connect(from, &QTcpSocket::readyRead, &context, [=, this, tail = QByteArray()]() mutable {
            const QByteArray bytes = from->readAll();
            if (toServer) { // a request starts with its request line
                const QByteArray seen = tail + bytes;
                m_requests += int(seen.count("POST /"));
                tail = seen.right(5);
            }
            QTimer::singleShot(m_delayMs.load(), Qt::PreciseTimer, to, [to, bytes] { to->write(bytes); });
        });
        QObject::connect(from, &QTcpSocket::disconnected, &context, [=, this] {
            QTimer::singleShot(m_delayMs.load(), Qt::PreciseTimer, to, [to] { to->disconnectFromHost(); });
        });
    };
    QObject::connect(&server, &QTcpServer::newConnection, &context, [&] {
        while (QTcpSocket *client = server.nextPendingConnection()) {
            auto *upstream = new QTcpSocket(&context);
            client->setParent(&context);
            client->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            upstream->connectToHost(QHostAddress::LocalHost, m_target);
            QObject::connect(upstream, &QTcpSocket::connected, upstream,
                             [upstream] { upstream->setSocketOption(QAbstractSocket::LowDelayOption, 1); });
            pipe(client, upstream, true);
            pipe(upstream, client, false);
        }
    });
    m_ready.release();
    exec();
}
