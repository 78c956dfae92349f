// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "bridgefailure.h"
#include "macrosteps.h"

#include <QMap>
#include <QString>
#include <QVariant>

#include <functional>
#include <optional>

// What a backend gives the core for one program: a source of readings, a driver for the steps,
// and, told to a Presence as it hears it, whether the program answers.

// Each property, as read: its value, or why it has none.
struct Reading
{
    QVariant value;
    std::optional<BridgeFailure> failure;
};
using Readings = QMap<QString, Reading>; // by property name

// Reads the program's values on the view's behalf. A program that pushes its state on every
// change gives it to BridgeView::store as it comes, and answers a refresh the same way.
class ReadingSource
{
public:
    using Got = std::function<void(const Readings &readings, bool current)>;
    using Failed = std::function<void(const BridgeFailure &failure)>;

    virtual ~ReadingSource() = default;

    // One read of every property; exactly one of got and failed is called later, unless the read
    // is cancelled first. Not current: a change went out meanwhile, and the answer may show what
    // was before it.
    virtual void refresh(Got got, Failed failed) = 0;
    // The refresh had all of its time: it is dropped, and what it waited for said.
    virtual BridgeFailure cancelRefresh() = 0;
};

// What a call carried out on the program tells the runner, and how the runner keeps the call's
// end: a handle to one call, copied into the driver's callbacks. Once its call has ended every
// member does nothing, and what guard() wraps is not run, so nothing a driver does for an ended
// call goes out.
class CallControl
{
public:
    using Then = std::function<void()>;

    virtual bool current(quint64 id) const = 0;
    virtual void fail(quint64 id, BridgeFailure failure) = 0;
    virtual void after(quint64 id, int ms, Then then) = 0;
    virtual void awaiting(quint64 id, const QString &what, const QString &note) = 0;
    virtual void sent(quint64 id) = 0;

protected:
    ~CallControl() = default;
};

class RunningCall
{
public:
    using Then = CallControl::Then;

    RunningCall(CallControl &control, quint64 id) : m_control(&control), m_id(id) {}

    bool running() const { return m_control->current(m_id); }
    // Ends the call, naming the step.
    void fail(BridgeFailure failure) const { m_control->fail(m_id, std::move(failure)); }
    void after(int ms, Then then) const { m_control->after(m_id, ms, std::move(then)); }
    // What running out of time now means, while the program is awaited to change by itself:
    // "<what> within <ms> ms<note>". Empty while an answer is awaited.
    void awaiting(const QString &what, const QString &note = {}) const { m_control->awaiting(m_id, what, note); }
    // A request of this step has gone out: from now on the program may have taken it.
    void sent() const { m_control->sent(m_id); }
    // then, run only while the call runs.
    template <typename F>
    auto guard(F then) const
    {
        return [*this, then = std::move(then)](auto &&...args) {
            if (running())
                then(std::forward<decltype(args)>(args)...);
        };
    }

private:
    CallControl *m_control;
    quint64 m_id;
};

// What a call that failed after some of it went out leaves owed, so that nothing of it takes
// effect later that the operator did not ask for.
struct Undo
{
    bool receive = false;  // back to receive: it asked to transmit, or to go back to receive
    bool dropText = false; // its own text, or an <RXANDCLEAR>, went out: the unsent text is dropped

    bool owed() const { return receive || dropText; }
};

// Carries out macro steps on one program.
class Driver
{
public:
    using Then = RunningCall::Then;

    virtual ~Driver() = default;

    // Why the program cannot be asked for this step, or empty. Every step of a call is looked at
    // before the first goes out.
    virtual QString refusal(const MacroStep &) const { return {}; }
    virtual void carryOut(const MacroStep &step, RunningCall call, Then then) = 0;

    // How the undo of a failed call goes on this program. owedMs: how long it stays owed while
    // the program does not answer; past it, a transmission found is taken for the operator's own.
    // watchMs: how long receive is watched once confirmed, for a transmission keyed late by a
    // request of the failed call; the program is read every watchPollMs meanwhile.
    struct UndoTiming
    {
        int owedMs = 0;
        int watchMs = 0;
        int watchPollMs = 100;
    };
    virtual UndoTiming undoTiming() const = 0;
    // One try of the undo: the transmit state is read, the program put back to receive if it
    // transmits (undo.receive), the unsent text dropped (undo.dropText); then(keyed) once receive
    // is known, keyed when it was found transmitting.
    using Confirmed = std::function<void(bool keyed)>;
    virtual void undo(RunningCall call, Undo undo, Confirmed then) = 0;

    // The call or the undo has ended: what is in flight is dropped, and what it waited for said.
    virtual std::optional<BridgeFailure> cancel() = 0;
};
