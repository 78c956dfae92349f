// SPDX-License-Identifier: GPL-3.0-or-later
#include "namekeeper.h"

#include "bridgefailure.h"
#include "bridgelog.h"
#include "contract.h"
#include "fldigihost.h"
#include "fldigiview.h"
#include "hostname.h"

#include <QDBusConnectionInterface>

NameKeeper::NameKeeper(const QDBusConnection &bus, FldigiView &view, FldigiHost &host, BridgeLog &log)
    : m_bus(bus), m_log(log)
{
    connect(&view, &FldigiView::fldigiAnswered, this, &NameKeeper::answered);
    connect(&view, &FldigiView::fldigiSilent, this, &NameKeeper::silent);
    connect(&host, &FldigiHost::fldigiAnswered, this, &NameKeeper::answered);
    connect(&host, &FldigiHost::fldigiSilent, this, &NameKeeper::silent);
}

void NameKeeper::answered()
{
    if (m_owned || (m_claimed.isValid() && m_claimed.elapsed() < claimEveryMs))
        return;
    m_claimed.start();
    const QString refusal = claimHostName(m_bus);
    m_owned = refusal.isEmpty();
    if (m_owned) {
        m_takenSaid = false;
        m_log.info(QStringLiteral("fldigi answers: serving \"%1\" as %2")
                       .arg(QString::fromLatin1(contract::busName), m_bus.baseService()));
    } else if (!std::exchange(m_takenSaid, true)) {
        m_log.warning(refusal);
    }
}

void NameKeeper::silent(const BridgeFailure &failure)
{
    if (!m_owned)
        return;
    m_bus.interface()->unregisterService(QString::fromLatin1(contract::busName));
    m_owned = false;
    m_log.info(QStringLiteral("fldigi has gone (%1): \"%2\" given up until it answers again")
                   .arg(failure.text, QString::fromLatin1(contract::busName)));
}
