// SPDX-License-Identifier: GPL-3.0-or-later
#include "fldigiview.h"

#include "bridgelog.h"
#include "contract.h"
#include "fldigiclient.h"

using Cause = BridgeFailure::Cause;
using xmlrpc::Expect;

QList<xmlrpc::Call> FldigiView::calls()
{
    return {{QStringLiteral("modem.get_carrier")},
            {QStringLiteral("rig.get_frequency")},
            {QStringLiteral("modem.get_name")},
            {QStringLiteral("rig.get_mode")}};
}

FldigiView::Readings FldigiView::readings(const QList<xmlrpc::Result> &results) const
{
    const QList<xmlrpc::Call> methods = calls();
    auto reading = [&](qsizetype index, Expect expect) -> Reading {
        const xmlrpc::Result &result = results.at(index);
        const QString &method = methods.at(index).method;
        if (result.fault)
            return {{}, BridgeFailure{Cause::Fault, QStringLiteral("fldigi refused %1: %2").arg(method, result.fault->text)}};
        try {
            return {xmlrpc::expect(result.value, expect), std::nullopt};
        } catch (const BridgeFailure &failure) {
            return {{}, BridgeFailure{Cause::Malformed, QStringLiteral("fldigi at %1 sent a malformed answer to %2: %3")
                                                            .arg(m_fldigi.address(), method, failure.text)}};
        }
    };
    Readings readings;
    readings.insert(QString::fromLatin1(contract::audioFq), reading(0, Expect::Int));
    readings.insert(QString::fromLatin1(contract::fqA), reading(1, Expect::Double));
    // fldigi's SSB modem is no modem at all: the rig's mode tells SSB, AM and FM apart.
    Reading mode = reading(2, Expect::String);
    if (const QString modem = mode.value.toString(); modem == u"SSB" || modem == u"NULL") {
        mode = reading(3, Expect::String);
        if (const QString rigMode = mode.value.toString(); rigMode == u"USB" || rigMode == u"LSB")
            mode.value = QStringLiteral("SSB");
    }
    readings.insert(QString::fromLatin1(contract::mode), mode);
    return readings;
}

FldigiView::FldigiView(FldigiClient &fldigi, BridgeLog &log, Timing timing, QObject *parent)
    : QObject(parent), m_fldigi(fldigi), m_log(log), m_timing(timing)
{
    m_refreshDeadline.setSingleShot(true);
    m_refreshDeadline.setTimerType(Qt::PreciseTimer);
    connect(&m_refreshDeadline, &QTimer::timeout, this, [this] {
        refreshFailed({Cause::NotAnswering, m_fldigi.cancel() + QStringLiteral(" within %1 ms").arg(m_timing.callMs)});
    });
    m_idle.setInterval(m_timing.idleMs);
    connect(&m_idle, &QTimer::timeout, this, [this] {
        if (!m_refreshSent.isValid() || m_refreshSent.elapsed() >= m_timing.idleMs / 2)
            refresh();
    });
}

void FldigiView::start()
{
    m_idle.start();
    refresh();
}

void FldigiView::read(const QString &name, Done done)
{
    ask(name, std::move(done));
}

void FldigiView::readAll(Done done)
{
    ask({}, std::move(done));
}

void FldigiView::store(const Readings &readings)
{
    keep(readings);
    serveWaiters();
}

void FldigiView::forget()
{
    m_arrived.invalidate();
}

void FldigiView::ask(const QString &name, Done done)
{
    if (fresh()) {
        answer(name, done);
        if (m_arrived.elapsed() >= m_timing.aheadMs)
            refresh();
        return;
    }
    const quint64 id = ++m_lastWaiter;
    m_waiters.insert(id, {name, std::move(done)});
    QTimer::singleShot(m_timing.callMs, Qt::PreciseTimer, this, [this, id] {
        const Waiter waiter = m_waiters.take(id);
        if (waiter.done)
            fail(waiter.name, waiter.done, {Cause::NotAnswering, QStringLiteral("no answer from fldigi at %1 within %2 ms")
                                                                     .arg(m_fldigi.address()).arg(m_timing.callMs)});
    });
    refresh();
}

void FldigiView::answer(const QString &name, const Done &done)
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

void FldigiView::fail(const QString &name, const Done &done, const BridgeFailure &failure)
{
    BridgeFailure named = failure;
    if (!name.isEmpty())
        named.text = name + QStringLiteral(": ") + failure.text;
    m_log.error(named.text);
    done({}, &named);
}

void FldigiView::refresh()
{
    if (m_refreshing)
        return;
    m_refreshing = true;
    m_refreshSent.start();
    m_refreshDeadline.start(m_timing.callMs);
    const quint64 changes = m_changes;
    m_fldigi.call(FldigiClient::Request::multicall(calls(), QStringLiteral("system.multicall")),
                  [this, changes](const QVariant &answer) { refreshed(answer, changes == m_changes); },
                  [this](const BridgeFailure &failure) { refreshFailed(failure); });
}

void FldigiView::refreshed(const QVariant &answer, bool current)
{
    m_refreshDeadline.stop();
    m_refreshing = false;
    emit fldigiAnswered();
    Readings fromAnswer;
    try {
        fromAnswer = readings(xmlrpc::results(answer, calls().size()));
    } catch (const BridgeFailure &failure) {
        return refreshFailed({failure.cause, QStringLiteral("fldigi at %1 sent a malformed answer to system.multicall: %2")
                                                 .arg(m_fldigi.address(), failure.text)});
    }
    if (current)
        keep(fromAnswer);
    serveWaiters();
}

void FldigiView::refreshFailed(const BridgeFailure &failure)
{
    m_refreshDeadline.stop();
    m_refreshing = false;
    forget();
    if (failure.fldigiSilent())
        emit fldigiSilent(failure);
    for (const Waiter &waiter : std::exchange(m_waiters, {}))
        fail(waiter.name, waiter.done, failure);
}

void FldigiView::keep(const Readings &readings)
{
    m_readings = readings;
    m_arrived.start();
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
}

void FldigiView::serveWaiters()
{
    if (m_waiters.isEmpty())
        return;
    if (!fresh())
        return refresh(); // the answer crossed a change: read again
    for (const Waiter &waiter : std::exchange(m_waiters, {}))
        answer(waiter.name, waiter.done);
}
