// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "host.h"

#include <QDBusConnection>

class QDBusMessage;

// The host reached over D-Bus, bound to the unique name that owned the well-known
// name at attach time: a host that exits and a new one started later is another host.
class DBusHost final : public Host
{
public:
    static std::unique_ptr<DBusHost> attach(const QDBusConnection &bus);
    static std::unique_ptr<DBusHost> attachSessionBus();

    QVariant read(const QString &name) override;
    void call(const QString &method, const QString &text) override;

    QString uniqueName() const { return m_owner; }

private:
    DBusHost(const QDBusConnection &bus, const QString &owner);

    QDBusMessage send(QDBusMessage message) const;

    QDBusConnection m_bus;
    QString m_owner;
};
