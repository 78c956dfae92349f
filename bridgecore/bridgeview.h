// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "backend.h"

#include <QElapsedTimer>
#include <QMap>
#include <QObject>
#include <QTimer>

class BridgeLog;

// What the program shows (its audio frequency, rig frequency and mode), kept a moment, so that
// a read costs no round trip to a program across a network.
//
// A read is answered from a view younger than freshMs, its age counted from when the program was
// asked for it, so that what a read shows is what the program had within freshMs; otherwise it waits, within its own time, for a refresh. A read that
// finds the view older than aheadMs refreshes it for the next one, so that a panel reading
// twice a second never waits; with no reader, the program is read every idleMs. One refresh is
// in flight at most.
//
// A refresh that crossed a change (the source says so) is not kept; the change's own answer,
// stored, says what the program shows after it. A refresh or a call that fails leaves no view:
// the next read refreshes first. A changed value is announced.
class BridgeView : public QObject
{
    Q_OBJECT

public:
    using Done = BridgeDone;

    struct Timing
    {
        int callMs = 1800;  // a read is answered within this, from its arrival
        int freshMs = 1000; // no read is answered from an older view
        int aheadMs = 250;  // a read that finds the view this old refreshes it
        int idleMs = 1000;  // how often the program is read while no read comes
    };

    // program: as messages name it, "<program> at <address>".
    BridgeView(ReadingSource &source, BridgeLog &log, const QString &program, Timing timing, QObject *parent = nullptr);

    void start(); // reads the program now, then every idleMs while no read comes

    // AudioFq as an int, FqA as a double, Mode as a string; all three as a map.
    void read(const QString &name, Done done);
    void readAll(Done done);

    // What the program showed when it was asked, ageMs ago: from a change's own answer, or
    // pushed by the program.
    void store(const Readings &readings, qint64 ageMs = 0);
    // After a call that failed: what the program shows is not known.
    void forget();

signals:
    void valuesChanged(const QVariantMap &values); // the properties whose values changed

private:
    struct Waiter
    {
        QString name; // empty: all three
        Done done;
    };

    qint64 age() const { return m_arrived.elapsed() + m_ageOnArrival; }
    bool fresh() const { return m_arrived.isValid() && age() < m_timing.freshMs; }
    void ask(const QString &name, Done done);
    void answer(const QString &name, const Done &done);
    void fail(const QString &name, const Done &done, const BridgeFailure &failure);
    void refresh();
    void refreshed(const Readings &readings, bool current);
    void refreshFailed(const BridgeFailure &failure);
    void serveWaiters();

    ReadingSource &m_source;
    BridgeLog &m_log;
    const QString m_program;
    const Timing m_timing;

    Readings m_readings;
    QElapsedTimer m_arrived;   // invalid: no view
    qint64 m_ageOnArrival = 0; // the round trip it came in
    QVariantMap m_announced;   // the values last known, to tell a change
    QMap<quint64, Waiter> m_waiters; // reads waiting for a refresh, in order
    quint64 m_lastWaiter = 0;

    quint64 m_refreshing = 0; // the refresh in flight, or 0
    quint64 m_refreshes = 0;
    QElapsedTimer m_refreshSent;
    QTimer m_refreshDeadline;
    QTimer m_idle;
};
