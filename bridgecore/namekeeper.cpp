// SPDX-License-Identifier: GPL-3.0-or-later
#include "namekeeper.h"

#include "bridgelog.h"
#include "contract.h"
#include "presence.h"

#include <QDBusConnectionInterface>

NameKeeper::NameKeeper(const QDBusConnection &bus, Presence &presence, BridgeLog &log, const QString &program,
                       const QString &key)
    : m_bus(bus), m_log(log), m_program(program),
      m_names{QString::fromLatin1(contract::busName), QString::fromLatin1(contract::busName) + u'.' + key}
{
    connect(&presence, &Presence::answering, this, &NameKeeper::answered);
    connect(&presence, &Presence::silenced, this, &NameKeeper::silent);
}

void NameKeeper::answered()
{
    if (m_asked)
        return;
    m_asked = true;
    QStringList owned, queued;
    for (const QString &name : m_names) {
        const auto reply = m_bus.interface()->registerService(name, QDBusConnectionInterface::QueueService,
                                                              QDBusConnectionInterface::DontAllowReplacement);
        if (!reply.isValid())
            m_log.warning(QStringLiteral("cannot ask for \"%1\": %2").arg(name, reply.error().message()));
        else if (reply.value() == QDBusConnectionInterface::ServiceQueued)
            queued << name;
        else
            owned << name;
    }
    if (!owned.isEmpty())
        m_log.info(QStringLiteral("%1 answers: serving \"%2\" as %3")
                       .arg(m_program, owned.join(QStringLiteral("\", \"")), m_bus.baseService()));
    if (!queued.isEmpty())
        m_log.info(QStringLiteral("%1 answers: \"%2\" owned by another host, waiting for it in the bus's queue")
                       .arg(m_program, queued.join(QStringLiteral("\", \""))));
}

void NameKeeper::silent(const QString &why)
{
    if (!m_asked)
        return;
    m_asked = false;
    for (const QString &name : m_names)
        m_bus.interface()->unregisterService(name);
    m_log.info(QStringLiteral("%1 has gone (%2): \"%3\" given up until it answers again")
                   .arg(m_program, why, m_names.first()));
}
