// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "bridgefailure.h"
#include "fldigiclient.h"
#include "macrosteps.h"
#include "xmlrpc.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QObject>
#include <QQueue>
#include <QTimer>

#include <functional>

class BridgeLog;
class FldigiView;

// The host's macros carried out on fldigi, one call at a time, each within its own time from
// its arrival: a call queued behind another counts from when it came. A call that runs out of
// time or fails ends at once; nothing more of it is sent to fldigi. A step that sets a value
// reads fldigi's values in the same request, after the set, and the view keeps them: a read
// after the reply shows what the macro set.
//
// A transmission that a failed call asked for is undone: when fldigi answers again, it is
// put back to receive before anything else is done, and the log says so.
class FldigiHost : public QObject
{
    Q_OBJECT

public:
    using Done = BridgeDone;

    // How long things take; the tests shorten some.
    struct Timing
    {
        int callMs = 1800;          // every call is answered within this, from its arrival
        int pollMs = 10;            // how often a wait for transmit or receive asks fldigi
        int settleMs = 150;         // a fresh transmission runs this long before it is aborted
        int confirmReceiveMs = 200; // fldigi keys a moment after main.tx: receive is read twice
        int unkeyRetryMs = 1000;    // how often fldigi is tried while a transmission is to be undone
    };

    FldigiHost(FldigiClient &fldigi, FldigiView &view, BridgeLog &log, Timing timing, QObject *parent = nullptr);

    // Done when every step has been carried out, or at the first that cannot be.
    void executeMacros(const QString &macros, Done done);

signals:
    void fldigiAnswered();
    void fldigiSilent(const BridgeFailure &failure); // not running, unreachable, not answering

private:
    struct Job
    {
        QDeadlineTimer deadline = {};
        std::function<void()> run = {};
        Done done = {};
        bool quiet = false;        // its failure is logged by whoever runs it
        bool afterRestore = false; // it waited behind a try to undo a transmission: no second try
    };
    using Then = std::function<void()>;

    // A transmission that a failed call may have started. Owed: fldigi is to be put back to
    // receive before the next new call, and every unkeyRetryMs while none comes. Restoring:
    // a try runs; calls that came meanwhile run after it, whether it worked or not.
    enum class Undo { None, Owed, Restoring };
    void setUndo(Undo next, const QString &failure = {});
    void undoWhileIdle();

    bool idle() const { return !m_running && m_queue.isEmpty(); }
    void enqueue(Job job);
    void startNext();
    void succeed(const QVariant &result = {});
    void fail(BridgeFailure failure);
    void finish(const QVariant &result, const BridgeFailure *failure);
    void timedOut();

    void rpc(const QString &method, const QVariantList &params, xmlrpc::Expect expect,
             std::function<void(const QVariant &)> then);
    void setAndRead(const QString &method, const QVariantList &params, Then then);
    void send(const FldigiClient::Request &request, std::function<void(const QVariant &)> then);
    void after(int ms, Then then);
    void awaitState(const QString &state, const QString &otherwise, Then then);

    void runSteps(const QList<MacroStep> &steps, qsizetype index);
    void carryOut(const MacroStep &step, Then then);
    void setMode(const QString &mode, Then then);
    void receiveNow(Then then);
    void abortTransmission(Then then);
    void restoreReceive(bool confirming);

    FldigiClient &m_fldigi;
    FldigiView &m_view;
    BridgeLog &m_log;
    const Timing m_timing;

    QQueue<Job> m_queue;
    Job m_job;
    bool m_running = false;
    quint64 m_generation = 0; // a callback of an ended call finds it changed and does nothing
    QTimer m_deadline;
    QString m_step;       // the step in progress, to name it in a failure
    QString m_awaiting;   // set while waiting for fldigi to change state
    bool m_askedToTransmit = false; // the running call has sent main.tx
    QElapsedTimer m_keyedAt;        // when fldigi was last seen to start transmitting for us

    Undo m_undo = Undo::None;
    bool m_undoFailureSaid = false; // a failed try is logged once, not at every retry
    QTimer m_undoRetry;
};
