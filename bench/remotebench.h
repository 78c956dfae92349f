// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

#include <memory>

class Form1;

// The panel attached to the host on the session bus, its timer stopped so that the bench ticks
// it; null when no host is loaded.
std::unique_ptr<Form1> attachedPanel();

// pollbench remote BRIDGE FLDIGI_PORT SECONDS ROUNDS TRIP...
int remote(const QStringList &args);
