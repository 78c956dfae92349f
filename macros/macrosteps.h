// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>

// What a macro text asks a host to do, in order, with every argument checked by one set of
// rules. Each host program carries the steps out in its own way.
struct MacroStep
{
    enum class Action {
        Text,       // text: goes to the transmit text
        AudioFq,    // hz: the audio frequency, whole hertz
        RigFq,      // hz: the rig frequency, whole hertz
        Mode,       // text: a mode's name, which the host may or may not have
        Transmit,   // <TX>
        Receive,    // <RX>: back to receive once the text before it has been sent
        ReceiveNow, // <RXANDCLEAR>: back to receive now, the unsent transmit text discarded
        ClearTx,    // <CLEARTXWINDOW>
        ClearRx,    // <CLEARRXWINDOW>
    };

    Action action = Action::Text;
    QString source; // the tag or text as written, to name the step in messages
    QString text;
    double hz = 0;

    bool operator==(const MacroStep &) const = default;
};

// A tag that is skipped: unknown, or its argument breaks the rules.
struct IgnoredTag
{
    QString tag;
    QString why;

    // "ignored <AUDIOFQ:x>: the audio frequency is not a whole number of hertz", on one line.
    QString message() const;
    bool operator==(const IgnoredTag &) const = default;
};

struct MacroPlan
{
    QList<MacroStep> steps;
    QList<IgnoredTag> ignored;
};

// Arguments are trimmed. <AUDIOFQ:n> takes a whole number of hertz from 0 up, <ZFQ:khz> a
// positive finite number of kilohertz (C notation) kept to the hertz, <MODE:name> a name of
// letters, digits and hyphens. A tag that breaks these rules is ignored; the other steps stand.
// Which modes there are is each host's own: one it has not fails the call (modeRefusal).
MacroPlan planMacros(const QString &macroText);

// Letters, digits and hyphens, at most 32, as every host names its modes ("BPSK31",
// "MT63-1KL", "FreqCal"): what <MODE:name> takes.
bool isModeName(const QString &name);

// Why a host cannot take a mode, listing the ones it has; empty when it has it.
QString modeRefusal(const QString &host, const QString &mode, const QStringList &modes);

// A text as one line: backslashes, line feeds and carriage returns escaped.
QString oneLine(QString text);
