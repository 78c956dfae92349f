#include "bridgeobject.h"

#include "contract.h"
#include "fldigihost.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QFile>

BridgeObject::BridgeObject(FldigiHost &host, QObject *parent)
    : QDBusVirtualObject(parent), m_host(host)
{
    // The same contract the stand-in host's adaptor is generated from.
    QFile contract(QStringLiteral(":/Palvo2.Application.xml"));
    if (contract.open(QIODevice::ReadOnly)) {
        const QString xml = QString::fromUtf8(contract.readAll());
        const qsizetype start = xml.indexOf(QStringLiteral("<interface"));
        const qsizetype end = xml.lastIndexOf(QStringLiteral("</interface>"));
        if (start >= 0 && end > start)
            m_interfaceXml = xml.mid(start, end - start + 12);
    }
}

QString BridgeObject::introspect(const QString &) const
{
    return m_interfaceXml;
}

bool BridgeObject::handleMessage(const QDBusMessage &message, const QDBusConnection &connection)
{
    const QString iface = QString::fromLatin1(contract::interfaceName);
    const QVariantList args = message.arguments();
    QDBusMessage reply;
    if (message.interface() == u"org.freedesktop.DBus.Introspectable" && message.member() == u"Introspect") {
        reply = message.createReply(QStringLiteral("<node>") + m_interfaceXml + QStringLiteral("</node>"));
    } else if (message.interface() == u"org.freedesktop.DBus.Properties" && message.member() == u"Get"
        && message.signature() == u"ss") {
        if (args[0].toString() != iface) {
            reply = message.createErrorReply(QDBusError::UnknownInterface,
                                             QStringLiteral("No such interface: %1").arg(args[0].toString()));
        } else {
            try {
                reply = message.createReply(QVariant::fromValue(QDBusVariant(m_host.read(args[1].toString()))));
            } catch (const BridgeFailure &failure) {
                const bool known = QStringList{"AudioFq", "FqA", "Mode"}.contains(args[1].toString());
                reply = message.createErrorReply(known ? QDBusError::Failed : QDBusError::UnknownProperty,
                                                 failure.text);
            }
        }
    } else if ((message.interface() == iface || message.interface().isEmpty())
               && message.member() == u"ExecuteMacros" && message.signature() == u"s") {
        m_host.executeMacros(args[0].toString());
        reply = message.createReply();
    } else {
        reply = message.createErrorReply(QDBusError::UnknownMethod,
                                         QStringLiteral("No such method: %1.%2 (%3)")
                                             .arg(message.interface(), message.member(), message.signature()));
    }
    connection.send(reply);
    return true;
}
