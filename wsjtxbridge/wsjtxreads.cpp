// SPDX-License-Identifier: GPL-3.0-or-later
#include "wsjtxreads.h"

#include "bridgeview.h"
#include "contract.h"
#include "wsjtxdriver.h"

using Cause = BridgeFailure::Cause;

WsjtxReads::WsjtxReads(WsjtxLink &link) : m_link(link)
{
    connect(&link, &WsjtxLink::quiet, this, [this] {
        m_failed = nullptr;
        if (const Got got = std::exchange(m_got, nullptr))
            return got(readings(*m_link.latest()), true);
        m_view->store(readings(*m_link.latest()));
    });
    connect(&link, &WsjtxLink::message, this, [this](const wsjtx::Message &message) {
        if (message.status && m_link.settled())
            m_view->store(readings(*message.status));
    });
    connect(&link, &WsjtxLink::gone, this, [this](const QString &why) {
        m_view->forget();
        if (const Failed failed = std::exchange(m_failed, nullptr)) {
            m_got = nullptr;
            failed({Cause::NotRunning, QStringLiteral("WSJT-X has gone: ") + why});
        }
    });
}

Readings WsjtxReads::readings(const wsjtx::Status &status)
{
    return {{QString::fromLatin1(contract::audioFq), {int(status.rxDf), std::nullopt}},
            {QString::fromLatin1(contract::fqA), {double(status.dialHz), std::nullopt}},
            {QString::fromLatin1(contract::mode), {status.mode, std::nullopt}},
            {QString::fromLatin1(contract::transmitting), {status.transmitting, std::nullopt}},
            {QString::fromLatin1(contract::modesProperty), {WsjtxDriver::modes(), std::nullopt}}};
}

void WsjtxReads::storeNow(const wsjtx::Status &status)
{
    m_view->store(readings(status));
}

void WsjtxReads::refresh(Got got, Failed failed)
{
    if (!m_link.following())
        return failed({Cause::NotRunning, QStringLiteral("no WSJT-X heard: %1").arg(m_link.name())});
    if (m_link.settled())
        return got(readings(*m_link.latest()), true);
    m_got = std::move(got);
    m_failed = std::move(failed);
    if (!m_link.latest())
        m_link.send(wsjtx::replay(m_link.id()));
}

BridgeFailure WsjtxReads::cancelRefresh()
{
    m_got = nullptr;
    m_failed = nullptr;
    if (!m_link.latest())
        return {Cause::NotAnswering, QStringLiteral("no Status from %1 after a Replay").arg(m_link.name())};
    return {Cause::NotAnswering, QStringLiteral("%1 has not settled: its Status kept changing").arg(m_link.name())};
}
