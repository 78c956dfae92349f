// SPDX-License-Identifier: GPL-3.0-or-later
#include "bridgeobject.h"

#include "bridgeview.h"
#include "callrunner.h"
#include "contract.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QFile>

namespace {

QString interfaceXml()
{
    QFile contract(QStringLiteral(":/Palvo2.Application.xml"));
    if (!contract.open(QIODevice::ReadOnly))
        return {};
    const QString xml = QString::fromUtf8(contract.readAll());
    const QLatin1StringView opening("<interface"), closing("</interface>");
    const qsizetype start = xml.indexOf(opening);
    const qsizetype end = xml.lastIndexOf(closing);
    return start >= 0 && end > start ? xml.mid(start, end + closing.size() - start) : QString();
}

bool isProperty(const QString &name)
{
    return std::any_of(std::begin(contract::properties), std::end(contract::properties),
                       [&](const char *property) { return name == QLatin1StringView(property); });
}

} // namespace

BridgeObject::BridgeObject(const QDBusConnection &bus, BridgeView &view, CallRunner &runner, QObject *parent)
    : QDBusVirtualObject(parent), m_bus(bus), m_view(view), m_runner(runner), m_interfaceXml(interfaceXml())
{
    connect(&view, &BridgeView::valuesChanged, this, &BridgeObject::announce);
}

void BridgeObject::announce(const QVariantMap &changes)
{
    auto signal = QDBusMessage::createSignal(QString::fromLatin1(contract::objectPath),
                                             QStringLiteral("org.freedesktop.DBus.Properties"),
                                             QStringLiteral("PropertiesChanged"));
    signal << QString::fromLatin1(contract::interfaceName) << changes << QStringList();
    m_bus.send(signal);
}

QString BridgeObject::introspect(const QString &) const
{
    return m_interfaceXml;
}

bool BridgeObject::handleMessage(const QDBusMessage &message, const QDBusConnection &connection)
{
    // Answers once the program has; a value is passed on in a variant when asked for one.
    auto replyWith = [message, connection](bool wrapped) {
        return [message, connection, wrapped](const QVariant &result, const BridgeFailure *failure) {
            if (!message.isReplyRequired())
                return;
            if (failure && failure->cause == BridgeFailure::Cause::Refused)
                connection.send(message.createErrorReply(QString::fromLatin1(contract::refusedError), failure->text));
            else if (failure)
                connection.send(message.createErrorReply(QDBusError::Failed, failure->text));
            else if (wrapped)
                connection.send(message.createReply(QVariant::fromValue(QDBusVariant(result))));
            else
                connection.send(result.isValid() ? message.createReply(result) : message.createReply());
        };
    };
    auto refuse = [&](QDBusError::ErrorType type, const QString &text) {
        connection.send(message.createErrorReply(type, text));
        return true;
    };

    const QString iface = QString::fromLatin1(contract::interfaceName);
    const QVariantList args = message.arguments();
    const QString member = message.member();
    if (message.interface() == u"org.freedesktop.DBus.Introspectable" && member == u"Introspect")
        return connection.send(message.createReply(QStringLiteral("<node>") + m_interfaceXml + QStringLiteral("</node>")));

    if (message.interface() == u"org.freedesktop.DBus.Properties") {
        const QString name = args.value(1).toString();
        if (args.value(0).toString() != iface)
            return refuse(QDBusError::UnknownInterface, QStringLiteral("No such interface: %1").arg(args.value(0).toString()));
        if (member == u"GetAll" && message.signature() == u"s") {
            m_view.readAll(replyWith(false));
            return true;
        }
        if ((member == u"Get" && message.signature() == u"ss") || (member == u"Set" && message.signature() == u"ssv")) {
            if (!isProperty(name))
                return refuse(QDBusError::UnknownProperty, QStringLiteral("No such property: %1").arg(name));
            if (member == u"Set")
                return refuse(QDBusError::PropertyReadOnly, QStringLiteral("%1 is read-only").arg(name));
            m_view.read(name, replyWith(true));
            return true;
        }
    } else if ((message.interface() == iface || message.interface().isEmpty()) && member == QLatin1StringView(contract::executeMacros)
               && message.signature() == u"s") {
        m_runner.executeMacros(args[0].toString(), replyWith(false));
        return true;
    }
    return refuse(QDBusError::UnknownMethod, QStringLiteral("No such method: %1.%2 (%3)")
                                                 .arg(message.interface(), member, message.signature()));
}
