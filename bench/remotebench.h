// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

// pollbench remote BRIDGE FLDIGI_PORT SECONDS ROUNDS TRIP...
int remote(const QStringList &args);
