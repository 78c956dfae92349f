#include "fakefldigi.h"

#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>

FakeFldigi::FakeFldigi()
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

void FakeFldigi::answer(const QString &method, const QByteArray &valueXml)
{
    QMutexLocker lock(&m_mutex);
    m_answers[method] = valueXml;
}

void FakeFldigi::setTrxStates(const QStringList &states)
{
    QMutexLocker lock(&m_mutex);
    m_trxStates = states;
}

void FakeFldigi::setSilent(bool silent)
{
    QMutexLocker lock(&m_mutex);
    m_silent = silent;
}

QByteArray FakeFldigi::reply(const QByteArray &request)
{
    static const QRegularExpression name("<methodName>([^<]*)</methodName>");
    static const QRegularExpression param("<value><(\\w+)>([^<]*)</\\1></value>");
    const QString body = QString::fromUtf8(request);
    const QString method = name.match(body).captured(1);
    QStringList params;
    for (auto it = param.globalMatch(body); it.hasNext();) {
        const auto m = it.next();
        params.append(m.captured(1) + u':' + m.captured(2));
    }
    QMutexLocker lock(&m_mutex);
    m_calls.append(method + u'(' + params.join(u',') + u')');
    QByteArray value = m_answers.value(method, "");
    if (method == u"main.get_trx_state")
        value = (m_trxStates.size() > 1 ? m_trxStates.takeFirst() : m_trxStates.value(0, "RX")).toUtf8();
    const QByteArray xml = "<?xml version=\"1.0\"?>\n<methodResponse><params><param>\n\t<value>" + value
                           + "</value>\n</param></params></methodResponse>\n";
    return "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: "
           + QByteArray::number(xml.size()) + "\r\n\r\n" + xml;
}

void FakeFldigi::run()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    m_port = server.serverPort();
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        while (QTcpSocket *socket = server.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                const QByteArray buffer = socket->property("buffer").toByteArray() + socket->readAll();
                socket->setProperty("buffer", buffer);
                const qsizetype end = buffer.indexOf("\r\n\r\n");
                if (end < 0 || !buffer.contains("</methodCall>"))
                    return;
                {
                    QMutexLocker lock(&m_mutex);
                    if (m_silent)
                        return;
                }
                socket->write(reply(buffer.mid(end + 4)));
                socket->disconnectFromHost();
            });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
    m_ready.release();
    exec();
}
