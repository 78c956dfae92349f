#include "xmlrpc.h"

#include <QDeadlineTimer>
#include <QTcpSocket>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace xmlrpc {

QByteArray request(const QString &method, const QVariantList &params)
{
    QByteArray body;
    QXmlStreamWriter xml(&body);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("methodCall"));
    xml.writeTextElement(QStringLiteral("methodName"), method);
    xml.writeStartElement(QStringLiteral("params"));
    for (const QVariant &param : params) {
        xml.writeStartElement(QStringLiteral("param"));
        xml.writeStartElement(QStringLiteral("value"));
        switch (param.metaType().id()) {
        case QMetaType::Int:
            xml.writeTextElement(QStringLiteral("int"), QString::number(param.toInt()));
            break;
        case QMetaType::Double:
            xml.writeTextElement(QStringLiteral("double"), QString::number(param.toDouble(), 'f', 6));
            break;
        case QMetaType::Bool:
            xml.writeTextElement(QStringLiteral("boolean"), param.toBool() ? "1" : "0");
            break;
        default:
            xml.writeTextElement(QStringLiteral("string"), param.toString());
            break;
        }
        xml.writeEndElement();
        xml.writeEndElement();
    }
    xml.writeEndDocument();
    return body;
}

namespace {

// Reads a <value> whose start tag was just read; leaves the reader after </value>.
QVariant readValue(QXmlStreamReader &xml)
{
    QVariant value;
    QString bare;
    while (xml.readNext() != QXmlStreamReader::EndElement || xml.name() != u"value") {
        if (xml.hasError())
            return {};
        if (xml.isCharacters()) {
            bare += xml.text();
        } else if (xml.isStartElement()) {
            const QString type = xml.name().toString();
            if (type == u"struct" || type == u"array") {
                QVariantMap members;
                QString name;
                while (!(xml.readNext() == QXmlStreamReader::EndElement && xml.name() == type)
                       && !xml.atEnd()) {
                    if (xml.isStartElement() && xml.name() == u"name")
                        name = xml.readElementText();
                    else if (xml.isStartElement() && xml.name() == u"value")
                        members.insert(name, readValue(xml));
                }
                value = members;
                continue;
            }
            const QString text = xml.readElementText();
            bool ok = true;
            if (type == u"int" || type == u"i4")
                value = text.trimmed().toInt(&ok);
            else if (type == u"double")
                value = text.trimmed().toDouble(&ok);
            else if (type == u"boolean")
                value = text.trimmed() == u"1";
            else
                value = text;
            if (!ok)
                throw BridgeFailure{QStringLiteral("fldigi sent a malformed %1: %2").arg(type, text)};
        }
    }
    return value.isValid() ? value : QVariant(bare);
}

} // namespace

QVariant result(const QByteArray &body)
{
    QXmlStreamReader xml(body);
    bool fault = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == u"fault")
            fault = true;
        if (xml.isStartElement() && xml.name() == u"value") {
            const QVariant value = readValue(xml);
            if (xml.hasError())
                break;
            if (fault)
                throw BridgeFailure{QStringLiteral("fldigi answered with a fault: %1")
                                        .arg(value.toMap().value(QStringLiteral("faultString")).toString())};
            return value;
        }
    }
    throw BridgeFailure{QStringLiteral("fldigi sent a malformed answer")};
}

} // namespace xmlrpc

XmlRpcClient::XmlRpcClient(const QUrl &url, int timeoutMs) : m_url(url), m_timeoutMs(timeoutMs) {}

QVariant XmlRpcClient::call(const QString &method, const QVariantList &params) const
{
    const BridgeFailure silent{QStringLiteral("fldigi is not answering at %1 (%2)")
                                   .arg(m_url.toString(), method)};
    QDeadlineTimer deadline(m_timeoutMs);
    QTcpSocket socket;
    socket.connectToHost(m_url.host(), quint16(m_url.port(80)));
    if (!socket.waitForConnected(int(deadline.remainingTime())))
        throw silent;

    const QByteArray body = xmlrpc::request(method, params);
    QByteArray head = "POST " + m_url.path().toUtf8() + " HTTP/1.1\r\n";
    head += "Host: " + m_url.authority().toUtf8() + "\r\n";
    head += "Content-Type: text/xml\r\nConnection: close\r\n";
    head += "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n";
    socket.write(head + body);

    // Read the status line and headers, then Content-Length bytes (or up to the close).
    QByteArray reply;
    qsizetype bodyStart = -1;
    qsizetype length = -1;
    while (bodyStart < 0 || length < 0 || reply.size() - bodyStart < length) {
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(int(deadline.remainingTime()))) {
            if (socket.state() != QAbstractSocket::UnconnectedState || bodyStart < 0)
                throw silent;
            break; // closed: the body is what came
        }
        reply += socket.readAll();
        if (bodyStart < 0 && (bodyStart = reply.indexOf("\r\n\r\n")) >= 0) {
            bodyStart += 4;
            for (const QByteArray &line : reply.left(bodyStart).split('\n')) {
                if (line.toLower().startsWith("content-length:"))
                    length = line.mid(15).trimmed().toLongLong();
            }
            if (!reply.startsWith("HTTP/1.1 200") && !reply.startsWith("HTTP/1.0 200"))
                throw BridgeFailure{QStringLiteral("fldigi at %1 answered %2")
                                        .arg(m_url.toString(), QString::fromLatin1(reply.left(reply.indexOf('\r'))))};
        }
        if (deadline.hasExpired())
            throw silent;
    }
    return xmlrpc::result(reply.mid(bodyStart));
}
