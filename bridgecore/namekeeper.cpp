// SPDX-License-Identifier: GPL-3.0-or-later
#include "namekeeper.h"

#include "bridgelog.h"
#include "contract.h"
#include "hostname.h"
#include "presence.h"

#include <QDBusConnectionInterface>

NameKeeper::NameKeeper(const QDBusConnection &bus, Presence &presence, BridgeLog &log, const QString &program)
    : m_bus(bus), m_log(log), m_program(program)
{
    connect(&presence, &Presence::answering, this, &NameKeeper::answered);
    connect(&presence, &Presence::silenced, this, &NameKeeper::silent);
}

void NameKeeper::answered()
{
    if (m_owned || (m_refused.isValid() && m_refused.elapsed() < claimEveryMs))
        return;
    const QString refusal = claimHostName(m_bus);
    m_owned = refusal.isEmpty();
    if (m_owned) {
        m_refused.invalidate();
        m_log.info(QStringLiteral("%1 answers: serving \"%2\" as %3")
                       .arg(m_program, QString::fromLatin1(contract::busName), m_bus.baseService()));
    } else {
        if (!m_refused.isValid()) // said once, not every second
            m_log.warning(refusal);
        m_refused.start();
    }
}

void NameKeeper::silent(const QString &why)
{
    if (!m_owned)
        return;
    m_bus.interface()->unregisterService(QString::fromLatin1(contract::busName));
    m_owned = false;
    m_log.info(QStringLiteral("%1 has gone (%2): \"%3\" given up until it answers again")
                   .arg(m_program, why, QString::fromLatin1(contract::busName)));
}
