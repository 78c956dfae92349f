// SPDX-License-Identifier: GPL-3.0-or-later
#include "tiedprocess.h"

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

TiedProcess::TiedProcess(QObject *parent) : QProcess(parent)
{
    const pid_t test = getpid();
    setChildProcessModifier([test] {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != test) // the test ended before the line above
            _exit(127);
    });
}
