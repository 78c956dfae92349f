// SPDX-License-Identifier: GPL-3.0-or-later
#include "fldigibridge.h"

namespace {

BridgeView::Timing within(BridgeView::Timing view, int callMs)
{
    view.callMs = callMs;
    return view;
}

} // namespace

FldigiBridge::FldigiBridge(const QUrl &url, BridgeLog &log, Timing timing)
    : program(QStringLiteral("fldigi at ") + url.toString(QUrl::RemoveUserInfo)),
      viewConnection(url, presence),
      callConnection(url, presence),
      reads(viewConnection, callConnection),
      view(reads, log, program, within(timing.view, timing.callMs)),
      driver(callConnection, reads, log, timing.steps),
      runner(driver, view, log, program,
             {.callMs = timing.callMs, .undoRetryMs = timing.undoRetryMs})
{
    reads.setView(view);
    QObject::connect(&presence, &Presence::answering, &runner, &CallRunner::programAnswered);
}
