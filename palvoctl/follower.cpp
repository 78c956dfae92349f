// SPDX-License-Identifier: GPL-3.0-or-later
#include "follower.h"

#include "contract.h"
#include "hostbus.h"

#include <QSocketNotifier>

#include <cstdlib>
#include <sys/stat.h>

Follower::Follower(const QDBusConnection &bus, const QString &name, Changed changed) : m_changed(std::move(changed))
{
    QDBusConnection(bus).connect(name, QString::fromLatin1(contract::objectPath), QStringLiteral("org.freedesktop.DBus.Properties"),
                                 QStringLiteral("PropertiesChanged"), this,
                                 SLOT(propertiesChanged(QString, QVariantMap, QStringList)));
}

void Follower::propertiesChanged(const QString &interface, const QVariantMap &changed, const QStringList &)
{
    if (interface != QLatin1StringView(contract::interfaceName))
        return;
    m_changed(plainValues(changed));
}

// A pipe's writing end reads as ready (an error) once its reader has gone; a terminal or a
// file is left alone, since a terminal is readable for other reasons.
void Follower::watchOutput()
{
    struct stat out = {};
    if (fstat(1, &out) != 0 || !S_ISFIFO(out.st_mode))
        return;
    m_output = new QSocketNotifier(1, QSocketNotifier::Read, this);
    connect(m_output, &QSocketNotifier::activated, this, [] { std::_Exit(0); });
}
