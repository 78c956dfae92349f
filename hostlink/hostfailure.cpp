// SPDX-License-Identifier: GPL-3.0-or-later
#include "hostfailure.h"

QString HostFailure::toString() const
{
    return QStringLiteral("Error %1: %2").arg(number).arg(text);
}
