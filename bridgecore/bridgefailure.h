// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QVariant>

#include <functional>

// Why a call on the program did not succeed, as the D-Bus caller and the log are told it.
struct BridgeFailure
{
    enum class Cause {
        NotRunning,     // the connection was refused
        Unreachable,    // the host is unknown or cannot be reached, or no connection came in time
        NotAnswering,   // a request went out and got no answer within the call's time
        ConnectionLost, // the connection broke before the answer was complete
        CrossedClose,   // a request that may change the program went out as the kept connection closed
        HttpStatus,     // an HTTP status other than 200
        Malformed,      // an answer that is not what the protocol allows, too large, or of the wrong type
        Fault,          // the program refused the request
        NotCarriedOut,  // the program answered, but did not do what was asked in time
        OutOfTime,      // the call's time ran out in the bridge: behind another call, or between steps
        UndoOwed,       // a transmission that a failed call may have started is not undone yet
        Refused,        // declined before anything of the call was sent: a mode or a step the program cannot
                        // be asked, or a program that takes no request now
    };

    Cause cause;
    QString text;
};

// How a call on the bridge ends: its result, or its failure (then the result is invalid).
using BridgeDone = std::function<void(const QVariant &result, const BridgeFailure *failure)>;
