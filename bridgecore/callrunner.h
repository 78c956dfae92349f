// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "backend.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

class BridgeLog;
class BridgeView;

// The host's macros carried out on the program by its driver, one call at a time. Every call is
// answered within callMs of its own arrival, whatever runs in front of it: one that waited too
// long in the queue fails there, and one that runs out of time ends at once, with nothing more
// of it sent: the driver's callbacks for it are not run, and what it has in flight is dropped.
// A call that fails leaves the view unknown.
//
// A call that fails after some of it went out is undone before anything else, as far as the
// program allows: one that asked to transmit or to go back to receive leaves the program owing
// receive, and one whose text or <RXANDCLEAR> went out leaves its unsent text to drop. While the
// undo is owed no call is carried out; the program is tried when the undo falls due, when a call
// comes, when the program answers, and every undoRetryMs. Receive, once confirmed, is watched for
// the driver's watchMs before calls go on. A call that waits for the undo longer than its time
// fails, naming it. A change that went out may still take effect: the failure says so.
class CallRunner : public QObject, private CallControl
{
    Q_OBJECT

public:
    using Done = BridgeDone;

    struct Timing
    {
        int callMs = 1800;      // every call is answered within this, from its arrival
        int undoRetryMs = 1000; // how often the program is tried while an undo is owed
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
        QDeadlineTimer deadline; // the call's own time, from its arrival
    };
    enum class Running { Nothing, Call, Undo };

    // What the driver's handle of the call reaches.
    bool current(quint64 id) const override { return m_running != Running::Nothing && id == m_generation; }
    void fail(quint64 id, BridgeFailure failure) override;
    void after(quint64 id, int ms, Then then) override;
    void awaiting(quint64 id, const QString &what, const QString &note) override;
    void sent(quint64 id) override;
    RunningCall handle() { return {*this, m_generation}; }

    void startNext();
    void startNextLater();
    void runSteps(qsizetype index);
    Running endRunning();
    void finish(const BridgeFailure *failure);
    void expire(quint64 job);
    void timedOut();
    BridgeFailure mayStillTakeEffect(MacroStep::Action action, BridgeFailure failure) const;
    Undo undoFor(const Job &job, const BridgeFailure &failure) const;

    void owe(Undo undo);
    void tryUndo();
    void undoConfirmed(bool keyed);
    void undoFailed(const BridgeFailure &failure);
    void settleUndo();
    QString owedText() const;

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
    qsizetype m_stepIndex = -1; // the step in progress
    QString m_step;             // its text, to name it in a failure
    QStringList m_awaiting;     // what and note
    bool m_outOfTime = false;   // the failure ending the call is its time running out
    qsizetype m_lastSent = -1;      // the last step of the running call a request went out for
    qsizetype m_firstTextSent = -1; // the first of its text steps that sent one

    Undo m_owed;
    QElapsedTimer m_owedSince;
    QElapsedTimer m_watchFrom;  // receive confirmed, watched from then; invalid: not yet
    QString m_undoFailure;      // why the last try did not succeed
    QTimer m_undoRetry;
    QTimer m_watchPoll;
};
