// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <optional>

// What palvoctl stops before sending, by the project's own macro rules: a tag the host programs
// would skip (unknown, or a bad argument), and text that looks like a tag but is none (a "<"
// followed by a letter), which a host would take for transmit text. Empty: nothing to stop.
QString macroProblem(const QString &macro);

// Whether the macro is text alone, with no tag and nothing that looks like one.
bool isPlainText(const QString &macro);

// A rig frequency as <ZFQ:…> takes it, in kHz, from "7074", "7074.5kHz", "14.074MHz" or
// "7074000Hz". A bare number of 1 000 000 or more is refused as ambiguous (hertz?), as is any
// other form; why says so.
std::optional<double> rigKhz(const QString &argument, QString *why);
