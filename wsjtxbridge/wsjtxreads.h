// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "backend.h"
#include "wsjtxlink.h"

#include <QObject>
#include <QTimer>

class BridgeView;

// What the view shows of WSJT-X, from its Status messages: AudioFq its Rx DF, FqA its dial
// frequency, Mode its mode, Transmitting its Transmitting; Modes the driver's. WSJT-X sends a Status on every change, so the latest is current: a
// refresh answers from it once WSJT-X's state has settled, and asks with a Replay when no
// Status has come. The view is given WSJT-X's state once its start-up has settled (Status quiet
// for WsjtxLink::quietMs, so that passing values are not announced), then every Status as it
// comes, however often.
class WsjtxReads : public QObject, public ReadingSource
{
public:
    explicit WsjtxReads(WsjtxLink &link);
    void setView(BridgeView &view) { m_view = &view; }

    static Readings readings(const wsjtx::Status &status);
    void storeNow(const wsjtx::Status &status); // a call's confirmation, before its reply

    void refresh(Got got, Failed failed) override;
    BridgeFailure cancelRefresh() override;

private:
    WsjtxLink &m_link;
    BridgeView *m_view = nullptr;
    Got m_got;
    Failed m_failed;
};
