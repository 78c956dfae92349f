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
    // fldigi's own TX deadman ends a transmission after 5 minutes unless its operator changed it.
    // An undo owed longer than that would take a transmission found later for ours, while it is
    // most likely one the operator started at the station since: it is not ours to end.
    static constexpr int txDeadmanMs = 5 * 60 * 1000;

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
