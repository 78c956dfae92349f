// SPDX-License-Identifier: GPL-3.0-or-later
#include "fldigireads.h"

#include "bridgeview.h"
#include "contract.h"
#include "fldigimodes.h"

using Cause = BridgeFailure::Cause;
using xmlrpc::Expect;

FldigiReads::FldigiReads(FldigiClient &viewConnection, FldigiClient &callConnection)
    : m_viewConnection(viewConnection), m_callConnection(callConnection)
{
}

QList<xmlrpc::Call> FldigiReads::calls()
{
    return {{QStringLiteral("modem.get_carrier")},
            {QStringLiteral("rig.get_frequency")},
            {QStringLiteral("modem.get_name")},
            {QStringLiteral("rig.get_mode")},
            {QStringLiteral("main.get_trx_state")},
            {QStringLiteral("modem.get_names")}};
}

FldigiReads::Shown FldigiReads::shown(const QList<xmlrpc::Result> &results) const
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
                                                            .arg(m_callConnection.address(), method, failure.text)}};
        }
    };
    Shown shown;
    shown.readings.insert(QString::fromLatin1(contract::audioFq), reading(0, Expect::Int));
    shown.readings.insert(QString::fromLatin1(contract::fqA), reading(1, Expect::Double));
    const Reading rigMode = reading(3, Expect::String);
    shown.rigMode = rigMode.value.toString();
    // fldigi's SSB modem is no modem at all: the rig's mode tells SSB, AM and FM apart.
    Reading mode = reading(2, Expect::String);
    if (const QString modem = mode.value.toString(); modem == u"SSB" || modem == u"NULL") {
        mode = rigMode;
        if (shown.rigMode == u"USB" || shown.rigMode == u"LSB")
            mode.value = QStringLiteral("SSB");
    }
    shown.readings.insert(QString::fromLatin1(contract::mode), mode);
    Reading trx = reading(4, Expect::String);
    shown.trx = trx.value.toString();
    if (!trx.failure)
        trx.value = shown.trx != u"RX"; // TX, or TUNE: a carrier
    shown.readings.insert(QString::fromLatin1(contract::transmitting), trx);
    // A fldigi without modem.get_names still takes the panel's names.
    shown.modems = results.at(5).fault ? QStringList() : results.at(5).value.toStringList();
    shown.readings.insert(QString::fromLatin1(contract::modesProperty), {fldigimodes::taken(shown.modems), std::nullopt});
    return shown;
}

std::optional<BridgeFailure> FldigiReads::parse(const QVariant &answer, qsizetype skip, const QString &method,
                                                QList<xmlrpc::Result> &results) const
{
    try {
        results = xmlrpc::results(answer, skip + calls().size());
    } catch (const BridgeFailure &failure) {
        return BridgeFailure{failure.cause, QStringLiteral("fldigi at %1 sent a malformed answer to %2: %3")
                                                .arg(m_callConnection.address(), method, failure.text)};
    }
    if (skip && results[0].fault)
        return BridgeFailure{Cause::Fault, QStringLiteral("fldigi refused %1: %2").arg(method, results[0].fault->text)};
    results = results.mid(skip);
    return std::nullopt;
}

void FldigiReads::setAndRead(const xmlrpc::Call &set, std::function<void()> written, Then then,
                             FldigiClient::Failure failed)
{
    readAfter({set}, set.method, std::move(written), std::move(then), std::move(failed));
}

void FldigiReads::readAgain(Then then, FldigiClient::Failure failed)
{
    readAfter({}, QStringLiteral("system.multicall"), {}, std::move(then), std::move(failed));
}

void FldigiReads::readAfter(const QList<xmlrpc::Call> &sets, const QString &name, std::function<void()> written, Then then,
                            FldigiClient::Failure failed)
{
    QElapsedTimer asked;
    asked.start();
    FldigiClient::Request request = FldigiClient::Request::multicall(sets + calls(), name);
    request.written = std::move(written);
    m_callConnection.call(request, [=, this](const QVariant &answer) {
        QList<xmlrpc::Result> results;
        if (const auto failure = parse(answer, sets.size(), name, results))
            return failed(*failure);
        const Shown now = shown(results);
        m_modemNames = now.modems;
        m_view->store(now.readings, asked.elapsed());
        then(now);
    }, failed);
}

// A change that went out or ended on the calls' connection while this was in flight may have
// been carried out before or after these reads: such an answer is not kept.
void FldigiReads::refresh(Got got, Failed failed)
{
    const QString name = QStringLiteral("system.multicall");
    const quint64 changes = m_callConnection.changes();
    m_viewConnection.call(FldigiClient::Request::multicall(calls(), name), [=, this](const QVariant &answer) {
        QList<xmlrpc::Result> results;
        if (const auto failure = parse(answer, 0, name, results))
            return failed(*failure);
        const Shown now = shown(results);
        m_modemNames = now.modems;
        got(now.readings, changes == m_callConnection.changes());
    }, failed);
}

BridgeFailure FldigiReads::cancelRefresh()
{
    return m_viewConnection.cancel(true).value_or(
        BridgeFailure{Cause::NotAnswering, QStringLiteral("no answer from fldigi at %1").arg(m_viewConnection.address())});
}
