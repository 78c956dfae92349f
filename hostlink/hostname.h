// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDBusConnection>
#include <QString>

// For host programs: owns the host's well-known name, refusing to queue behind or replace
// another host. Empty when the name is ours; otherwise why it is not.
QString claimHostName(const QDBusConnection &bus);
