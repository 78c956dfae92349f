// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "bridgefailure.h"
#include "macrosteps.h"
#include "xmlrpc.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QObject>
#include <QQueue>
#include <QTimer>

#include <functional>

class FldigiClient;
class QTextStream;

// The host's members carried out on fldigi, one call at a time, each within its own time from
// its arrival: a call queued behind another counts from when it came. A call that runs out of
// time or fails ends at once; nothing more of it is sent to fldigi.
//
// A transmission that a failed call asked for is undone: when fldigi answers again, it is
// put back to receive before anything else is done, and stderr says so.
class FldigiHost : public QObject
{
    Q_OBJECT

public:
    // The result, or the failure (then the result is invalid).
    using Done = std::function<void(const QVariant &result, const BridgeFailure *failure)>;

    FldigiHost(FldigiClient &fldigi, int timeoutMs, QTextStream &errors, QObject *parent = nullptr);

    static bool readable(const QString &name); // AudioFq, FqA, Mode

    // AudioFq as an int, FqA as a double, Mode as a string.
    void read(const QString &name, Done done);
    // All three, as a map.
    void readAll(Done done);
    // Done when every step has been carried out, or at the first that cannot be.
    void executeMacros(const QString &macros, Done done);
    // Done when fldigi answers, or fails when it does not; a failure is not said on stderr.
    void ping(Done done);

    bool idle() const { return !m_running && m_queue.isEmpty(); }

    // The modem that fldigi's set_by_name is given for one of the panel's modes, or "" for none.
    static QString modemFor(const QString &mode);

    int pollMs = 10;          // how often a wait for transmit or receive asks fldigi
    int settleMs = 150;       // a fresh transmission runs this long before it is aborted
    int unkeyRetryMs = 1000;  // how often fldigi is tried while a transmission is to be undone

signals:
    void fldigiAnswered();
    void fldigiSilent(const BridgeFailure &failure); // not running, unreachable, not answering

private:
    struct Job
    {
        QDeadlineTimer deadline;
        std::function<void()> run;
        Done done;
        bool restoresReceive = false;
        bool afterRestore = false; // a try to restore receive has come before this call
        bool quiet = false;        // its failure is not said on stderr: fldigi is asked often
    };
    using Then = std::function<void()>;

    void enqueue(std::function<void()> run, Done done, bool quiet = false);
    void startNext();
    void succeed(const QVariant &result = {});
    void fail(BridgeFailure failure);
    void finish(const QVariant &result, const BridgeFailure *failure);
    void timedOut();

    void rpc(const QString &method, const QVariantList &params, xmlrpc::Expect expect,
             std::function<void(const QVariant &)> then);
    void after(int ms, Then then);
    void awaitState(const QString &state, const QString &otherwise, Then then);

    void readValue(const QString &name, std::function<void(const QVariant &)> then);
    void runSteps(const QList<MacroStep> &steps, qsizetype index);
    void carryOut(const MacroStep &step, Then then);
    void setMode(const QString &mode, Then then);
    void receiveNow(Then then);
    void restoreReceive(bool confirming);

    FldigiClient &m_fldigi;
    const int m_timeoutMs;
    QTextStream &m_errors;

    QQueue<Job> m_queue;
    Job m_job;
    bool m_running = false;
    quint64 m_generation = 0; // a callback of an ended call finds it changed and does nothing
    QTimer m_deadline;
    QString m_step;       // the step in progress, to name it in a failure
    QString m_awaiting;   // set while waiting for fldigi to change state
    bool m_askedToTransmit = false; // the running call has sent main.tx

    bool m_receiveOwed = false; // a failed call may have left fldigi transmitting
    bool m_restoreFailed = false; // said once on stderr, not at every retry
    QTimer m_retry;
    QElapsedTimer m_keyedAt;    // when fldigi was last seen to start transmitting for us
};
