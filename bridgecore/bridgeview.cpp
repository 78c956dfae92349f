// SPDX-License-Identifier: GPL-3.0-or-later
#include "bridgeview.h"

#include "bridgelog.h"

using Cause = BridgeFailure::Cause;

BridgeView::BridgeView(ReadingSource &source, BridgeLog &log, const QString &program, Timing timing, QObject *parent)
    : QObject(parent), m_source(source), m_log(log), m_program(program), m_timing(timing)
{
    m_refreshDeadline.setSingleShot(true);
    m_refreshDeadline.setTimerType(Qt::PreciseTimer);
    connect(&m_refreshDeadline, &QTimer::timeout, this, [this] {
        BridgeFailure failure = m_source.cancelRefresh();
        failure.text += QStringLiteral(" within %1 ms").arg(m_timing.callMs);
        refreshFailed(failure);
    });
    m_idle.setInterval(m_timing.idleMs);
    connect(&m_idle, &QTimer::timeout, this, [this] {
        if (!m_refreshSent.isValid() || m_refreshSent.elapsed() >= m_timing.idleMs / 2)
            refresh();
    });
}

void BridgeView::start()
{
    m_idle.start();
    refresh();
}

void BridgeView::read(const QString &name, Done done)
{
    ask(name, std::move(done));
}

void BridgeView::readAll(Done done)
{
    ask({}, std::move(done));
}

void BridgeView::store(const Readings &readings, qint64 ageMs)
{
    m_readings = readings;
    m_arrived.start();
    m_ageOnArrival = ageMs;
    QVariantMap changes;
    for (auto it = readings.cbegin(); it != readings.cend(); ++it) {
        if (it->failure)
            continue;
        const auto known = m_announced.constFind(it.key());
        if (known != m_announced.cend() && *known != it->value)
            changes.insert(it.key(), it->value);
        m_announced.insert(it.key(), it->value);
    }
    if (!changes.isEmpty())
        emit valuesChanged(changes);
    serveWaiters();
}

void BridgeView::forget()
{
    m_arrived.invalidate();
}

void BridgeView::ask(const QString &name, Done done)
{
    if (fresh()) {
        answer(name, done);
        if (age() >= m_timing.aheadMs)
            refresh();
        return;
    }
    const quint64 id = ++m_lastWaiter;
    m_waiters.insert(id, {name, std::move(done)});
    QTimer::singleShot(m_timing.callMs, Qt::PreciseTimer, this, [this, id] {
        const Waiter waiter = m_waiters.take(id);
        if (waiter.done)
            fail(waiter.name, waiter.done,
                 {Cause::NotAnswering, QStringLiteral("no answer from %1 within %2 ms").arg(m_program).arg(m_timing.callMs)});
    });
    refresh();
}

void BridgeView::answer(const QString &name, const Done &done)
{
    if (!name.isEmpty()) {
        const Reading reading = m_readings.value(name);
        return reading.failure ? fail(name, done, *reading.failure) : done(reading.value, nullptr);
    }
    QVariantMap all;
    for (auto it = m_readings.cbegin(); it != m_readings.cend(); ++it) {
        if (it->failure)
            return fail(it.key(), done, *it->failure);
        all.insert(it.key(), it->value);
    }
    done(all, nullptr);
}

void BridgeView::fail(const QString &name, const Done &done, const BridgeFailure &failure)
{
    BridgeFailure named = failure;
    if (!name.isEmpty())
        named.text = name + QStringLiteral(": ") + failure.text;
    m_log.error(named.text);
    done({}, &named);
}

void BridgeView::refresh()
{
    if (m_refreshing)
        return;
    const quint64 id = m_refreshing = ++m_refreshes;
    m_refreshSent.start();
    m_refreshDeadline.start(m_timing.callMs);
    // An answer that comes after the deadline dropped its refresh finds another id, or none.
    m_source.refresh(
        [this, id](const Readings &readings, bool current) {
            if (id == m_refreshing)
                refreshed(readings, current);
        },
        [this, id](const BridgeFailure &failure) {
            if (id == m_refreshing)
                refreshFailed(failure);
        });
}

void BridgeView::refreshed(const Readings &readings, bool current)
{
    m_refreshDeadline.stop();
    m_refreshing = 0;
    if (current)
        store(readings, m_refreshSent.elapsed());
    else if (!m_waiters.isEmpty())
        refresh(); // the answer crossed a change: read again
}

void BridgeView::refreshFailed(const BridgeFailure &failure)
{
    m_refreshDeadline.stop();
    m_refreshing = 0;
    forget();
    for (const Waiter &waiter : std::exchange(m_waiters, {}))
        fail(waiter.name, waiter.done, failure);
}

void BridgeView::serveWaiters()
{
    // The newest of what the program showed, however long its answer took.
    for (const Waiter &waiter : std::exchange(m_waiters, {}))
        answer(waiter.name, waiter.done);
}
