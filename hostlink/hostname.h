// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDBusConnection>
#include <QString>

// For host programs: owns the host's well-known name, and "<name>.<key>" beside it, refusing to
// queue behind or replace another host. Empty when the names are ours; otherwise why not.
QString claimHostName(const QDBusConnection &bus, const QString &key);
