// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "tiedprocess.h"

#include <QString>

// An Xvfb display of the test's own, for programs that need a real X connection.
class VirtualDisplay
{
public:
    VirtualDisplay();
    ~VirtualDisplay();

    // Starts Xvfb on a free-looking display number and waits for its socket.
    bool start();
    QString name() const { return m_name; } // ":N", for DISPLAY

private:
    TiedProcess m_xvfb;
    QString m_name;
};
