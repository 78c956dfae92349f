// SPDX-License-Identifier: GPL-3.0-or-later
#include "namekeeper.h"

#include "bridgefailure.h"
#include "contract.h"
#include "fldigihost.h"
#include "hostname.h"

#include <QDBusConnectionInterface>
#include <QTextStream>

NameKeeper::NameKeeper(const QDBusConnection &bus, FldigiHost &host, QTextStream &errors, int checkMs)
    : m_bus(bus), m_host(host), m_errors(errors), m_checkMs(checkMs)
{
    connect(&host, &FldigiHost::fldigiAnswered, this, &NameKeeper::answered);
    connect(&host, &FldigiHost::fldigiSilent, this, &NameKeeper::silent);
    connect(&m_timer, &QTimer::timeout, this, &NameKeeper::check);
    m_timer.start(checkMs);
    check();
}

void NameKeeper::check()
{
    if (m_heard.isValid() && m_heard.elapsed() < m_checkMs)
        return;
    if (m_host.idle())
        m_host.ping([](const QVariant &, const BridgeFailure *) {});
}

void NameKeeper::answered()
{
    m_heard.start();
    if (m_owned || (m_claimed.isValid() && m_claimed.elapsed() < m_checkMs))
        return;
    m_claimed.start();
    m_owned = claimHostName(m_bus, m_takenSaid ? nullptr : &m_errors, "palvo2-fldigi");
    m_takenSaid = !m_owned;
    if (m_owned)
        m_errors << "palvo2-fldigi: fldigi answers: serving \"" << contract::busName << "\" as "
                 << m_bus.baseService() << Qt::endl;
}

void NameKeeper::silent(const BridgeFailure &failure)
{
    m_heard.start();
    if (!m_owned)
        return;
    m_bus.interface()->unregisterService(QString::fromLatin1(contract::busName));
    m_owned = false;
    m_errors << "palvo2-fldigi: fldigi has gone (" << failure.text << "): \"" << contract::busName
             << "\" given up until it answers again" << Qt::endl;
}
