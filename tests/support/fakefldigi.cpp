// SPDX-License-Identifier: GPL-3.0-or-later
#include "fakefldigi.h"

#include <QPointer>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

FakeFldigi::FakeFldigi(quint16 port) : m_port(port)
{
    m_answers = {{"modem.get_carrier", "<i4>1500</i4>"},
                 {"rig.get_frequency", "<double>14070000.000000</double>"},
                 {"modem.get_name", "BPSK31"},
                 {"rig.get_mode", "USB"},
                 {"modem.set_by_name", "BPSK31"}};
    start();
    m_ready.acquire();
}

FakeFldigi::~FakeFldigi()
{
    quit();
    wait();
}

QStringList FakeFldigi::calls()
{
    QMutexLocker lock(&m_mutex);
    return m_calls;
}

int FakeFldigi::connections()
{
    QMutexLocker lock(&m_mutex);
    return m_connections;
}

QString FakeFldigi::trxState()
{
    QMutexLocker lock(&m_mutex);
    return m_trx;
}

void FakeFldigi::answer(const QString &method, const QByteArray &valueXml)
{
    QMutexLocker lock(&m_mutex);
    m_answers[method] = valueXml;
}

void FakeFldigi::answerRaw(const QString &method, const QByteArray &http)
{
    QMutexLocker lock(&m_mutex);
    m_raw[method] = http;
}

void FakeFldigi::setTrxStates(const QStringList &states)
{
    QMutexLocker lock(&m_mutex);
    m_trxStates = states;
}

void FakeFldigi::setDelay(int ms)
{
    QMutexLocker lock(&m_mutex);
    m_delayMs = ms;
}

void FakeFldigi::setSilent(bool silent)
{
    inThread([this, silent] {
        m_silent = silent;
        if (silent)
            return;
        for (const Held &held : std::exchange(m_held, {})) {
            const QByteArray answer = carryOut(held.request);
            if (held.socket && held.socket->state() == QAbstractSocket::ConnectedState)
                held.socket->write(answer);
        }
    });
}

void FakeFldigi::dropConnections()
{
    inThread([this] {
        for (QTcpSocket *socket : m_context->findChildren<QTcpSocket *>())
            socket->abort();
    });
}

void FakeFldigi::inThread(std::function<void()> work)
{
    QMetaObject::invokeMethod(m_context, std::move(work), Qt::BlockingQueuedConnection);
}

// Takes every whole request off the connection, in order.
void FakeFldigi::take(QTcpSocket *socket)
{
    QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
    for (;;) {
        const qsizetype end = buffer.indexOf("\r\n\r\n");
        static const QRegularExpression lengthHeader("Content-Length: *(\\d+)", QRegularExpression::CaseInsensitiveOption);
        const auto length = lengthHeader.match(QString::fromLatin1(buffer.left(end)));
        if (end < 0 || !length.hasMatch() || buffer.size() < end + 4 + length.captured(1).toInt())
            break;
        const bool close = buffer.left(end).toLower().contains("connection: close");
        const QByteArray request = buffer.mid(end + 4, length.captured(1).toInt());
        buffer.remove(0, end + 4 + request.size());
        static const QRegularExpression name("<methodName>([^<]*)</methodName>");
        static const QRegularExpression param("<value><(\\w+)>([^<]*)</\\1></value>");
        QStringList params;
        for (auto it = param.globalMatch(QString::fromUtf8(request)); it.hasNext();) {
            const auto m = it.next();
            params.append(m.captured(1) + u':' + m.captured(2));
        }
        int delay = 0;
        {
            QMutexLocker lock(&m_mutex);
            m_calls.append(name.match(QString::fromUtf8(request)).captured(1) + u'(' + params.join(u',') + u')');
            delay = m_delayMs;
        }
        if (m_silent) {
            m_held.append({socket, request});
        } else {
            QTimer::singleShot(delay, socket, [this, socket, request, close] {
                QByteArray answer = carryOut(request);
                if (close) {
                    socket->write(answer.replace("\r\n\r\n", "\r\nConnection: close\r\n\r\n"));
                    socket->disconnectFromHost();
                } else {
                    socket->write(answer);
                }
            });
        }
    }
    socket->setProperty("buffer", buffer);
}

QByteArray FakeFldigi::carryOut(const QByteArray &request)
{
    static const QRegularExpression name("<methodName>([^<]*)</methodName>");
    const QString method = name.match(QString::fromUtf8(request)).captured(1);
    QMutexLocker lock(&m_mutex);
    if (method == u"main.tx")
        m_trx = QStringLiteral("TX");
    else if (method == u"main.abort" || method == u"main.rx")
        m_trx = QStringLiteral("RX");
    if (m_raw.contains(method))
        return m_raw.value(method);
    QByteArray value = m_answers.value(method, "");
    if (method == u"main.get_trx_state")
        value = (m_trxStates.isEmpty() ? m_trx : m_trxStates.takeFirst()).toUtf8();
    const QByteArray xml = "<?xml version=\"1.0\"?>\r\n<methodResponse><params><param>\r\n\t<value>" + value
                           + "</value>\r\n</param></params></methodResponse>\r\n";
    return "HTTP/1.1 200 OK\r\nServer: XMLRPC++ 0.8\r\nContent-Type: text/xml\r\nContent-length: "
           + QByteArray::number(xml.size()) + "\r\n\r\n" + xml;
}

void FakeFldigi::run()
{
    QObject context;
    QTcpServer server(&context);
    server.listen(QHostAddress::LocalHost, m_port);
    m_port = server.serverPort();
    m_context = &context;
    QObject::connect(&server, &QTcpServer::newConnection, &context, [&] {
        while (QTcpSocket *socket = server.nextPendingConnection()) {
            socket->setParent(&context);
            {
                QMutexLocker lock(&m_mutex);
                ++m_connections;
            }
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { take(socket); });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
    m_ready.release();
    exec();
}
