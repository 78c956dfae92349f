// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDBusConnection>
#include <QElapsedTimer>
#include <QObject>

class BridgeLog;
class Presence;

// Owns the host's name on the session bus while the program answers, and only then: a panel
// started while the program is closed finds no host, as it would find none without the bridge.
// The name is taken at the program's first answer after it was given up, and given up when
// Presence finds the program silent. A panel already attached keeps the bridge's unique name,
// and its calls fail while the program is gone.
class NameKeeper : public QObject
{
public:
    // program: as messages name it, by its own name.
    NameKeeper(const QDBusConnection &bus, Presence &presence, BridgeLog &log, const QString &program);

private:
    static constexpr int claimEveryMs = 1000; // a name owned by another host is tried this often

    void answered();
    void silent(const QString &why);

    QDBusConnection m_bus;
    BridgeLog &m_log;
    const QString m_program;
    QElapsedTimer m_refused; // since a claim was last refused
    bool m_owned = false;
};
