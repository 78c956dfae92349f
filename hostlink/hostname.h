// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDBusConnection>
#include <QTextStream>

// For host programs: owns the host's well-known name, refusing to queue behind or replace
// another host. Says why on errors, if given, when it cannot.
bool claimHostName(const QDBusConnection &bus, QTextStream *errors, const char *program);
