// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// A bus daemon that takes connections but never answers (one that hangs, or is stopped) holds
// the first use of the session bus for good, and Qt's accessibility bridge makes that use as
// soon as the first control exists. This asks the bus to begin authentication over a connection
// of its own and waits at most timeoutMs. When no answer comes, it points this process's
// DBUS_SESSION_BUS_ADDRESS at nothing, so that every later use fails at once, and says why;
// otherwise it returns "" and changes nothing. Call it before anything touches the bus.
QString shutOutSilentSessionBus(int timeoutMs);
