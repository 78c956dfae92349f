// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

// Sends this process's stderr to a temporary file until text() or destruction.
class StderrCapture
{
public:
    StderrCapture();
    ~StderrCapture();
    StderrCapture(const StderrCapture &) = delete;
    StderrCapture &operator=(const StderrCapture &) = delete;

    // Restores stderr and returns what was written meanwhile.
    QByteArray text();

private:
    void restore();

    int m_saved = -1;
    int m_file = -1;
    QByteArray m_text;
};
