// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "backend.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

class BridgeLog;
class BridgeView;

// The host's macros carried out on the program by its driver, one call at a time. Every call is
// answered within callMs of its own arrival, whatever runs in front of it: one that waited too
// long in the queue fails there, and one that runs out of time ends at once, with nothing more
// of it sent. A call that fails leaves the view unknown.
//
// A transmission that a failed call may have started is undone before anything else: while the
// undo is owed no call is carried out; the program is tried when the undo falls due, when a
// call comes, when the program answers, and every undoRetryMs. A call that waits for the undo
// longer than its time fails, naming it.
class CallRunner : public QObject, private RunningCall
{
    Q_OBJECT

public:
    using Done = BridgeDone;

    struct Timing
    {
        int callMs = 1800;        // every call is answered within this, from its arrival
        int undoRetryMs = 1000;   // how often the program is tried while an undo is owed
        int undoOwedMs = 300000;  // how long an undo stays owed; the backend says why
    };

    // program: as messages name it, "<program> at <address>".
    CallRunner(Driver &driver, BridgeView &view, BridgeLog &log, const QString &program, Timing timing,
               QObject *parent = nullptr);

    // Done when every step has been carried out, or at the first that cannot be.
    void executeMacros(const QString &macros, Done done);

    // The program answered something: an owed undo is tried at once.
    void programAnswered() { tryUndo(); }

private:
    struct Job
    {
        quint64 id = 0;
        QList<MacroStep> steps;
        Done done;
    };
    enum class Running { Nothing, Call, Undo };

    // The driver's view of the call.
    quint64 id() const override { return m_generation; }
    bool current(quint64 id) const override { return m_running != Running::Nothing && id == m_generation; }
    void fail(BridgeFailure failure) override;
    void after(int ms, Then then) override;
    void awaiting(const QString &what, const QString &note) override { m_awaiting = {what, note}; }
    void mayTransmit() override { m_mayTransmit = true; }

    void startNext();
    void runSteps(qsizetype index);
    void finish(const BridgeFailure *failure);
    void expire(quint64 job);
    void timedOut();

    void owe();
    void tryUndo();
    void settleUndo(const BridgeFailure *failure);

    Driver &m_driver;
    BridgeView &m_view;
    BridgeLog &m_log;
    const QString m_program;
    const Timing m_timing;

    QList<Job> m_queue; // in order of arrival
    quint64 m_lastJob = 0;
    Running m_running = Running::Nothing;
    Job m_job;                 // the call carried out, while m_running is Call
    quint64 m_generation = 0;  // a callback of an ended call finds it changed
    QTimer m_undoDeadline;     // an undo try's own time
    QString m_step;            // the step in progress, to name it in a failure
    QStringList m_awaiting;    // what and note
    bool m_mayTransmit = false; // the running call may have started a transmission

    bool m_undoOwed = false;
    QElapsedTimer m_undoOwedSince;
    QString m_undoFailure;      // why the last try did not succeed
    QTimer m_undoRetry;
};
