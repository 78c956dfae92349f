// SPDX-License-Identifier: GPL-3.0-or-later
#include "hostbus.h"

#include "contract.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QMap>
#include <QRegularExpression>

namespace {

const QString dbusName = QStringLiteral("org.freedesktop.DBus");
const QString dbusPath = QStringLiteral("/org/freedesktop/DBus");

QString busName(const QString &name)
{
    const QString host = QString::fromLatin1(contract::busName);
    if (name.isEmpty())
        return host;
    for (const char *program : HostBus::programs) {
        if (name == QLatin1StringView(program))
            return host + u'.' + name;
    }
    return name;
}

} // namespace

QVariantMap plainValues(QVariantMap values)
{
    for (auto it = values.begin(); it != values.end(); ++it) {
        if (it->canConvert<QDBusArgument>()) {
            QStringList list;
            it->value<QDBusArgument>() >> list;
            *it = list;
        }
    }
    return values;
}

HostBus::HostBus(const QDBusConnection &bus, const QString &name, int timeoutMs)
    : m_bus(bus), m_name(busName(name)), m_timeoutMs(timeoutMs)
{
}

QDBusMessage HostBus::call(const QString &service, const QString &path, const QString &interface, const QString &method,
                           const QVariantList &arguments) const
{
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    message.setAutoStartService(false); // no program is ever started for a call of ours
    const QDBusMessage reply = m_bus.call(message, QDBus::Block, m_timeoutMs);
    if (reply.type() != QDBusMessage::ErrorMessage)
        return reply;
    const QString error = reply.errorName();
    if (error == u"org.freedesktop.DBus.Error.ServiceUnknown" || error == u"org.freedesktop.DBus.Error.NameHasNoOwner")
        throw CtlFailure{CtlFailure::NoHost, QStringLiteral("Palvo2 is not loaded: no program owns %1").arg(service)};
    if (error == u"org.freedesktop.DBus.Error.NoReply" || error == u"org.freedesktop.DBus.Error.Timeout")
        throw CtlFailure{CtlFailure::HostFailed, QStringLiteral("%1 did not answer within %2 ms").arg(service).arg(m_timeoutMs)};
    if (error == u"org.freedesktop.DBus.Error.Disconnected")
        throw CtlFailure{CtlFailure::NoHost, QStringLiteral("the session bus went away: %1").arg(reply.errorMessage())};
    throw CtlFailure{CtlFailure::HostFailed, reply.errorMessage()};
}

QVariantMap HostBus::readAll() const
{
    const QDBusMessage reply = call(m_name, QString::fromLatin1(contract::objectPath), QStringLiteral("org.freedesktop.DBus.Properties"),
                                    QStringLiteral("GetAll"), {QString::fromLatin1(contract::interfaceName)});
    QVariantMap values;
    reply.arguments().value(0).value<QDBusArgument>() >> values;
    return plainValues(values);
}

void HostBus::execute(const QString &macro) const
{
    call(m_name, QString::fromLatin1(contract::objectPath), QString::fromLatin1(contract::interfaceName),
         QString::fromLatin1(contract::executeMacros), {macro});
}

QString HostBus::program() const
{
    auto owner = [this](const QString &name) {
        try {
            return call(dbusName, dbusPath, dbusName, QStringLiteral("GetNameOwner"), {name}).arguments().value(0).toString();
        } catch (const CtlFailure &) {
            return QString();
        }
    };
    const QString ours = owner(m_name);
    for (const char *program : programs) {
        if (!ours.isEmpty() && owner(QString::fromLatin1(contract::busName) + u'.' + QLatin1StringView(program)) == ours)
            return QString::fromLatin1(program);
    }
    return ours;
}

QStringList HostBus::list(const QDBusConnection &bus, int timeoutMs)
{
    const HostBus dbus(bus, dbusName, timeoutMs);
    auto ask = [&](const QString &method, const QVariantList &arguments) {
        return dbus.call(dbusName, dbusPath, dbusName, method, arguments).arguments().value(0);
    };
    const QString host = QString::fromLatin1(contract::busName);
    QStringList names = ask(QStringLiteral("ListNames"), {}).toStringList().filter(QRegularExpression(
        QStringLiteral("^%1(\\.|$)").arg(QRegularExpression::escape(host))));
    names.sort();
    QMap<QString, QString> programOf; // unique name -> program
    for (const char *program : programs) {
        const QString name = host + u'.' + QLatin1StringView(program);
        if (names.contains(name))
            programOf.insert(ask(QStringLiteral("GetNameOwner"), {name}).toString(), QString::fromLatin1(program));
    }
    auto described = [&](const QString &unique) {
        return programOf.contains(unique) ? QStringLiteral("%1 (%2)").arg(programOf[unique], unique) : unique;
    };
    QStringList lines;
    for (const QString &name : std::as_const(names))
        lines << QStringLiteral("%1 owned by %2").arg(name, described(ask(QStringLiteral("GetNameOwner"), {name}).toString()));
    if (names.contains(host)) {
        const QStringList queue = ask(QStringLiteral("ListQueuedOwners"), {host}).toStringList();
        for (const QString &unique : queue.mid(1)) // the first is the owner
            lines << QStringLiteral("%1 waited for by %2").arg(host, described(unique));
    }
    return lines;
}
