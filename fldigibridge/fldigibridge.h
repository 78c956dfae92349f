// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "bridgeview.h"
#include "callrunner.h"
#include "fldigiclient.h"
#include "fldigidriver.h"
#include "fldigireads.h"
#include "presence.h"

class BridgeLog;

// One fldigi behind the core: two connections, so that a refresh of the view never holds up a
// macro, nor a macro a read; the view, the driver and the runner, wired together.
struct FldigiBridge
{
    struct Timing
    {
        int callMs = 1800; // every call, a read or a macro, is answered within this
        BridgeView::Timing view = {};
        FldigiDriver::Timing steps = {};
        int undoRetryMs = 1000;
    };

    FldigiBridge(const QUrl &url, BridgeLog &log, Timing timing);

    const QString program; // "fldigi at <address>"
    Presence presence;
    FldigiClient viewConnection;
    FldigiClient callConnection;
    FldigiReads reads;
    BridgeView view;
    FldigiDriver driver;
    CallRunner runner;
};
