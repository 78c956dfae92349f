// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QProcess>

// A child process that ends with the test, however the test ends: when the test aborts or is
// killed, the kernel kills the child too (PR_SET_PDEATHSIG), so nothing a failed run started
// goes on taking the machine from the tests after it.
class TiedProcess : public QProcess
{
public:
    explicit TiedProcess(QObject *parent = nullptr);
};
