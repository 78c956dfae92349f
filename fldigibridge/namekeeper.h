// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDBusConnection>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class BridgeLog;
class FldigiHost;
struct BridgeFailure;

// Owns the host's name on the session bus while fldigi answers, and only then: a panel started
// while fldigi is closed finds no host, as it would find none without the bridge. The name is
// taken when fldigi answers a call, and given up when a call finds fldigi gone; when no call
// has told either way for checkMs, fldigi is asked itself. A panel already attached keeps the
// bridge's unique name, and its calls fail while fldigi is gone.
class NameKeeper : public QObject
{
public:
    NameKeeper(const QDBusConnection &bus, FldigiHost &host, BridgeLog &log);

private:
    static constexpr int checkMs = 1000;

    void check();
    void answered();
    void silent(const BridgeFailure &failure);

    QDBusConnection m_bus;
    FldigiHost &m_host;
    BridgeLog &m_log;
    QTimer m_timer;
    QElapsedTimer m_heard;   // since a call last told whether fldigi answers
    QElapsedTimer m_claimed; // since the name was last tried
    bool m_owned = false;
    bool m_takenSaid = false; // "owned by another host" said once, not every second
};
