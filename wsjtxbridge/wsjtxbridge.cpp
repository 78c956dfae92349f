// SPDX-License-Identifier: GPL-3.0-or-later
#include "wsjtxbridge.h"

#include <limits>

// The view is as fresh as WSJT-X's last Status while WSJT-X is followed: it sends one on every
// change. It is never read by itself; the link tells when WSJT-X has gone.
WsjtxBridge::WsjtxBridge(const WsjtxLink::Options &options, BridgeLog &log, int callMs)
    : link(presence, log, options),
      reads(link),
      view(reads, log, QStringLiteral("WSJT-X"),
           {.callMs = callMs, .freshMs = std::numeric_limits<int>::max(), .aheadMs = std::numeric_limits<int>::max()}),
      driver(link, reads),
      runner(driver, view, log, QStringLiteral("WSJT-X"), {.callMs = callMs})
{
    reads.setView(view);
}
