// SPDX-License-Identifier: GPL-3.0-or-later
#include "namekeeper.h"

#include "bridgefailure.h"
#include "bridgelog.h"
#include "contract.h"
#include "fldigihost.h"
#include "hostname.h"

#include <QDBusConnectionInterface>

NameKeeper::NameKeeper(const QDBusConnection &bus, FldigiHost &host, BridgeLog &log)
    : m_bus(bus), m_host(host), m_log(log)
{
    connect(&host, &FldigiHost::fldigiAnswered, this, &NameKeeper::answered);
    connect(&host, &FldigiHost::fldigiSilent, this, &NameKeeper::silent);
    connect(&m_timer, &QTimer::timeout, this, &NameKeeper::check);
    m_timer.start(checkMs);
    check();
}

void NameKeeper::check()
{
    if (m_heard.isValid() && m_heard.elapsed() < checkMs)
        return;
    if (m_host.idle())
        m_host.ping([](const QVariant &, const BridgeFailure *) {});
}

void NameKeeper::answered()
{
    m_heard.start();
    if (m_owned || (m_claimed.isValid() && m_claimed.elapsed() < checkMs))
        return;
    m_claimed.start();
    const QString refusal = claimHostName(m_bus);
    m_owned = refusal.isEmpty();
    if (m_owned)
        m_log.info(QStringLiteral("fldigi answers: serving \"%1\" as %2").arg(QString::fromLatin1(contract::busName), m_bus.baseService()));
    else if (!std::exchange(m_takenSaid, true))
        m_log.warning(refusal);
    if (m_owned)
        m_takenSaid = false;
}

void NameKeeper::silent(const BridgeFailure &failure)
{
    m_heard.start();
    if (!m_owned)
        return;
    m_bus.interface()->unregisterService(QString::fromLatin1(contract::busName));
    m_owned = false;
    m_log.info(QStringLiteral("fldigi has gone (%1): \"%2\" given up until it answers again")
                   .arg(failure.text, QString::fromLatin1(contract::busName)));
}
