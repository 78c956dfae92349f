// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QStringList>

class BridgeLog;
class Presence;

// Owns the host's name on the session bus while the program answers, and only then: a panel
// started while the program is closed finds no host, as it would find none without the bridge.
// The name is asked for at the program's first answer after it was given up, and given up when
// Presence finds the program silent. While another host owns it, the bridge waits in the bus's
// queue for it, and leaves the queue when its program goes. It owns "Palvo2.Application.<key>"
// in the same way, so that a script can address one program. A panel already attached keeps the
// bridge's unique name, and its calls fail while the program is gone.
class NameKeeper : public QObject
{
public:
    // program: as messages name it; key: the last part of the bridge's own name.
    NameKeeper(const QDBusConnection &bus, Presence &presence, BridgeLog &log, const QString &program,
               const QString &key);

private:
    void answered();
    void silent(const QString &why);

    QDBusConnection m_bus;
    BridgeLog &m_log;
    const QString m_program;
    const QStringList m_names; // the host's, then the bridge's own
    bool m_asked = false;      // owned or queued for
};
