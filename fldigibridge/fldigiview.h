// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "bridgefailure.h"
#include "xmlrpc.h"

#include <QElapsedTimer>
#include <QMap>
#include <QObject>
#include <QTimer>

#include <functional>
#include <optional>

class BridgeLog;
class FldigiClient;

// What fldigi shows (its carrier, rig frequency and mode), read in one system.multicall and
// kept a moment, so that a read costs no round trip to a fldigi across a network.
//
// A read is answered from a view younger than freshMs, its age counted from the arrival of the
// answer it came from; otherwise it waits, within its own time, for a refresh. A read that
// finds the view older than aheadMs refreshes it for the next one, so that a panel reading
// twice a second never waits; with no reader, fldigi is read every idleMs, which also tells
// whether it answers. One refresh is in flight at most.
//
// A refresh that crossed a change made by a call (the change went out or ended while the
// refresh was in flight) may show what was before it, and is not kept; the change's own answer
// says what fldigi shows after it. A refresh or a call that
// fails leaves no view: the next read refreshes first. A changed value is announced.
class FldigiView : public QObject
{
    Q_OBJECT

public:
    using Done = BridgeDone;

    struct Timing
    {
        int callMs = 1800;  // a read is answered within this, from its arrival
        int freshMs = 1000; // no read is answered from an older view
        int aheadMs = 250;  // a read that finds the view this old refreshes it
        int idleMs = 1000;  // how often fldigi is read while no read comes
    };

    // Each property, as read: its value, or why it has none.
    struct Reading
    {
        QVariant value;
        std::optional<BridgeFailure> failure;
    };
    using Readings = QMap<QString, Reading>;

    FldigiView(FldigiClient &fldigi, BridgeLog &log, Timing timing, QObject *parent = nullptr);

    // The reads a view is made of, in this order, and the readings their results make.
    static QList<xmlrpc::Call> calls();
    Readings readings(const QList<xmlrpc::Result> &results) const;

    void start(); // reads fldigi now, then every idleMs while no read comes

    // AudioFq as an int, FqA as a double, Mode as a string; all three as a map.
    void read(const QString &name, Done done);
    void readAll(Done done);

    // A request that may change fldigi went out, or ended: a refresh in flight across either may
    // show what was before the change, and is not kept.
    void changeSentOrEnded() { ++m_changes; }
    // What a change's own answer shows fldigi to be now.
    void store(const Readings &readings);
    // After a call that failed: what fldigi shows is not known.
    void forget();

signals:
    void fldigiAnswered();
    void fldigiSilent(const BridgeFailure &failure);
    void valuesChanged(const QVariantMap &values); // the properties whose values changed

private:
    struct Waiter
    {
        QString name; // empty: all three
        Done done;
    };

    bool fresh() const { return m_arrived.isValid() && m_arrived.elapsed() < m_timing.freshMs; }
    void ask(const QString &name, Done done);
    void answer(const QString &name, const Done &done);
    void fail(const QString &name, const Done &done, const BridgeFailure &failure);
    void refresh();
    void refreshed(const QVariant &answer, bool current);
    void refreshFailed(const BridgeFailure &failure);
    void keep(const Readings &readings);
    void serveWaiters();

    FldigiClient &m_fldigi;
    BridgeLog &m_log;
    const Timing m_timing;

    Readings m_readings;
    QElapsedTimer m_arrived;   // invalid: no view
    QVariantMap m_announced;   // the values last known, to tell a change
    QMap<quint64, Waiter> m_waiters; // reads waiting for a refresh, in order
    quint64 m_lastWaiter = 0;

    bool m_refreshing = false;
    QElapsedTimer m_refreshSent;
    QTimer m_refreshDeadline;
    QTimer m_idle;
    quint64 m_changes = 0;     // requests that may change fldigi, sent or ended so far
};
