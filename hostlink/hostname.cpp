// SPDX-License-Identifier: GPL-3.0-or-later
#include "hostname.h"

#include "contract.h"

#include <QDBusConnectionInterface>

QString claimHostName(const QDBusConnection &bus, const QString &key)
{
    const QString name = QString::fromLatin1(contract::busName);
    for (const QString &wanted : {name, name + u'.' + key}) {
        const auto reply = bus.interface()->registerService(wanted, QDBusConnectionInterface::DontQueueService,
                                                            QDBusConnectionInterface::DontAllowReplacement);
        if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered)
            return QStringLiteral("\"%1\" is already owned on the session bus; is another host running?").arg(wanted);
    }
    return {};
}
