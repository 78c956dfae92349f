// SPDX-License-Identifier: GPL-3.0-or-later
#include "hostname.h"

#include "contract.h"

#include <QDBusConnectionInterface>

QString claimHostName(const QDBusConnection &bus)
{
    const auto reply = bus.interface()->registerService(
        QString::fromLatin1(contract::busName), QDBusConnectionInterface::DontQueueService,
        QDBusConnectionInterface::DontAllowReplacement);
    if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered)
        return {};
    return QStringLiteral("\"%1\" is already owned on the session bus; is another host running?")
        .arg(QString::fromLatin1(contract::busName));
}
