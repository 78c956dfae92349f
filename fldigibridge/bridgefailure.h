// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QVariant>

#include <functional>

// Why a call on fldigi did not succeed, as the D-Bus caller and stderr are told it.
struct BridgeFailure
{
    enum class Cause {
        NotRunning,     // the connection was refused
        Unreachable,    // the host is unknown or cannot be reached
        NotAnswering,   // no answer within the call's time
        ConnectionLost, // the connection broke before the answer was complete
        CrossedClose,   // a request that may change fldigi went out as the kept connection closed
        HttpStatus,     // an HTTP status other than 200
        Malformed,      // an answer that is not XML-RPC, too large, or of the wrong type
        Fault,          // fldigi refused the method
        NotCarriedOut,  // fldigi answered, but did not do what was asked in time
    };

    Cause cause;
    QString text;

    // fldigi may have taken the request: it was not refused before it was sent.
    bool mayHaveReachedFldigi() const { return cause != Cause::NotRunning && cause != Cause::Unreachable; }

    // fldigi may be gone: nothing answered at all.
    bool fldigiSilent() const
    {
        return cause == Cause::NotRunning || cause == Cause::Unreachable
            || cause == Cause::NotAnswering || cause == Cause::ConnectionLost;
    }
};

// How a call on the bridge ends: its result, or its failure (then the result is invalid).
using BridgeDone = std::function<void(const QVariant &result, const BridgeFailure *failure)>;
