// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "backend.h"
#include "fldigiclient.h"
#include "xmlrpc.h"

class BridgeView;

// What the view shows of fldigi, read in one system.multicall: its carrier, rig frequency,
// modem and rig mode, its transmit state, and the modem names it lists. Refreshes go on the
// view's own connection; a set and these reads go together on the calls' connection, and the
// view keeps what their answer shows.
class FldigiReads : public ReadingSource
{
public:
    FldigiReads(FldigiClient &viewConnection, FldigiClient &callConnection);
    void setView(BridgeView &view) { m_view = &view; }

    // What one answer of the reads shows: the readings, the rig mode as fldigi says it, and its
    // transmit state ("RX", "TX", ...; empty when fldigi did not say).
    struct Shown
    {
        Readings readings;
        QString rigMode;
        QString trx;
        QStringList modems; // fldigi's own modem names
    };
    using Then = std::function<void(const Shown &)>;

    // A set and then the reads, in one request on the calls' connection: its answer says what
    // fldigi shows after the set, at no extra round trip. Failed also when fldigi refused the set.
    // written: as the request's first byte goes out.
    void setAndRead(const xmlrpc::Call &set, std::function<void()> written, Then then, FldigiClient::Failure failed);
    // The reads alone, on the calls' connection, kept in the same way.
    void readAgain(Then then, FldigiClient::Failure failed);

    void refresh(Got got, Failed failed) override;
    BridgeFailure cancelRefresh() override;

    // fldigi's own modem names, as last read; empty before the first read.
    const QStringList &modemNames() const { return m_modemNames; }

private:
    static QList<xmlrpc::Call> calls();
    Shown shown(const QList<xmlrpc::Result> &results) const;
    void readAfter(const QList<xmlrpc::Call> &sets, const QString &name, std::function<void()> written, Then then,
                   FldigiClient::Failure failed);
    // The results of the reads in a multicall that has skip calls before them, or what is wrong.
    std::optional<BridgeFailure> parse(const QVariant &answer, qsizetype skip, const QString &method,
                                       QList<xmlrpc::Result> &results) const;

    FldigiClient &m_viewConnection;
    FldigiClient &m_callConnection;
    BridgeView *m_view = nullptr;
    QStringList m_modemNames;
};
