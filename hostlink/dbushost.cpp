// SPDX-License-Identifier: GPL-3.0-or-later
#include "dbushost.h"

#include "contract.h"
#include "hostfailure.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusVariant>

namespace {

HostFailure failureOf(const QDBusError &error)
{
    return {static_cast<int>(error.type()), error.name() + QStringLiteral(": ") + error.message(),
            error.name() == QLatin1StringView(contract::refusedError)};
}

} // namespace

DBusHost::DBusHost(const QDBusConnection &bus, const QString &owner)
    : m_bus(bus), m_owner(owner)
{
}

std::unique_ptr<DBusHost> DBusHost::attachSessionBus()
{
    return attach(QDBusConnection::sessionBus());
}

std::unique_ptr<DBusHost> DBusHost::attach(const QDBusConnection &bus)
{
    if (!bus.isConnected()) {
        const QDBusError error = bus.lastError();
        if (error.isValid())
            throw failureOf(error);
        throw HostFailure{HostFailure::NoHost, QStringLiteral("No D-Bus session bus")};
    }
    // Ask the bus driver who owns the name: this never activates a service.
    auto message = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetNameOwner"));
    message << QString::fromLatin1(contract::busName);
    const QDBusMessage reply = DBusHost(bus, {}).send(message);
    const QString owner = reply.arguments().value(0).toString();
    if (owner.isEmpty())
        throw HostFailure{HostFailure::BadReply, QStringLiteral("The bus named no owner for %1")
                                                     .arg(QString::fromLatin1(contract::busName))};
    return std::unique_ptr<DBusHost>(new DBusHost(bus, owner));
}

QVariant DBusHost::read(const QString &name)
{
    auto message = QDBusMessage::createMethodCall(
        m_owner, QString::fromLatin1(contract::objectPath),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    message << QString::fromLatin1(contract::interfaceName) << name;
    const QDBusMessage reply = send(message);
    const QVariant value = reply.arguments().value(0);
    if (!value.canConvert<QDBusVariant>())
        throw HostFailure{HostFailure::BadReply,
                          QStringLiteral("The host sent no value for %1").arg(name)};
    return qvariant_cast<QDBusVariant>(value).variant();
}

void DBusHost::call(const QString &method, const QString &text)
{
    auto message = QDBusMessage::createMethodCall(m_owner, QString::fromLatin1(contract::objectPath),
                                                  QString::fromLatin1(contract::interfaceName), method);
    message << text;
    send(message);
}

// Blocks without a nested event loop: handlers must run one at a time, each to its end.
QDBusMessage DBusHost::send(QDBusMessage message) const
{
    message.setAutoStartService(false);
    const QDBusMessage reply = m_bus.call(message, QDBus::Block, contract::callTimeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage)
        throw failureOf(QDBusError(reply));
    if (reply.type() != QDBusMessage::ReplyMessage)
        throw HostFailure{HostFailure::BadReply, QStringLiteral("No reply from the host")};
    return reply;
}
