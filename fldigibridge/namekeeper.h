// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDBusConnection>
#include <QElapsedTimer>
#include <QObject>

class BridgeLog;
class FldigiHost;
class FldigiView;
struct BridgeFailure;

// Owns the host's name on the session bus while fldigi answers, and only then: a panel started
// while fldigi is closed finds no host, as it would find none without the bridge. The name is
// taken when fldigi answers, and given up when fldigi is found gone, by a call or by the view's
// refresh, which reads fldigi about once a second even when no call comes. A panel already
// attached keeps the bridge's unique name, and its calls fail while fldigi is gone.
class NameKeeper : public QObject
{
public:
    NameKeeper(const QDBusConnection &bus, FldigiView &view, FldigiHost &host, BridgeLog &log);

private:
    static constexpr int claimEveryMs = 1000; // a name owned by another host is tried this often

    void answered();
    void silent(const BridgeFailure &failure);

    QDBusConnection m_bus;
    BridgeLog &m_log;
    QElapsedTimer m_claimed; // since the name was last tried
    bool m_owned = false;
    bool m_takenSaid = false; // "owned by another host" said once, not every second
};
