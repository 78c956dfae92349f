// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "bridgeview.h"
#include "callrunner.h"
#include "presence.h"
#include "wsjtxdriver.h"
#include "wsjtxlink.h"
#include "wsjtxreads.h"

class BridgeLog;

// One WSJT-X behind the core: its link, the view fed by its Status messages, the driver and the
// runner, wired together.
struct WsjtxBridge
{
    WsjtxBridge(const WsjtxLink::Options &options, BridgeLog &log, int callMs);

    Presence presence;
    WsjtxLink link;
    WsjtxReads reads;
    BridgeView view;
    WsjtxDriver driver;
    CallRunner runner;
};
