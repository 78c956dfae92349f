// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// A failed operation on the host: a number and a text, as the user is shown it.
// Thrown by Host and by the value conversions; caught where a handler ends.
struct HostFailure
{
    // Numbers below 100 are QDBusError::ErrorType values; these are our own.
    enum : int {
        NoTextForm = 100,
        NotANumber = 101,
        NoHost = 102,
        BadReply = 103,
    };

    int number = 0;
    QString text;
    bool refused = false; // the host declined the call before anything of it was carried out

    QString toString() const; // "Error <number>: <text>", for a bug report
    QString inWords() const;  // what happened, in a sentence for the operator
};
