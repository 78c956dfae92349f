// SPDX-License-Identifier: GPL-3.0-or-later
#include "hostname.h"

#include "contract.h"

#include <QDBusConnectionInterface>

bool claimHostName(const QDBusConnection &bus, QTextStream *errors, const char *program)
{
    const auto reply = bus.interface()->registerService(
        QString::fromLatin1(contract::busName), QDBusConnectionInterface::DontQueueService,
        QDBusConnectionInterface::DontAllowReplacement);
    if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered)
        return true;
    if (errors)
        *errors << program << ": \"" << contract::busName
                << "\" is already owned on the session bus; is another host running?" << Qt::endl;
    return false;
}
