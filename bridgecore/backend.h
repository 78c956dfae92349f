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

// The call being carried out, as a driver sees it. What it hands out does nothing once the
// call has ended.
class RunningCall
{
public:
    using Then = std::function<void()>;

    virtual quint64 id() const = 0;              // tells this call from the next
    virtual bool current(quint64 id) const = 0;  // the call with this id still runs
    virtual void fail(BridgeFailure failure) = 0; // ends it, naming the step
    virtual void after(int ms, Then then) = 0;
    // What running out of time now means, while the program is awaited to change by itself:
    // "<what> within <ms> ms<note>". Empty while an answer is awaited.
    virtual void awaiting(const QString &what, const QString &note = {}) = 0;
    // A transmission may have started: from now on, a failure of this call owes its undo.
    virtual void mayTransmit() = 0;

    Then guard(Then then)
    {
        return [this, id = id(), then = std::move(then)] {
            if (current(id))
                then();
        };
    }

protected:
    ~RunningCall() = default;
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
    virtual void carryOut(const MacroStep &step, RunningCall &call, Then then) = 0;
    // After a failed call that may have started a transmission: the transmit state is read and
    // the program put back to receive if need be; then() once it is known to receive.
    virtual void backToReceive(RunningCall &call, Then then) = 0;
    // The call ran out of time: what is in flight is dropped, and what it waited for said.
    virtual std::optional<BridgeFailure> cancel() = 0;
};
