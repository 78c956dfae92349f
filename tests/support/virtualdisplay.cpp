// SPDX-License-Identifier: GPL-3.0-or-later
#include "virtualdisplay.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QThread>

VirtualDisplay::VirtualDisplay() = default;

VirtualDisplay::~VirtualDisplay()
{
    m_xvfb.terminate();
    if (!m_xvfb.waitForFinished(3000))
        m_xvfb.kill();
    m_xvfb.waitForFinished(1000);
}

bool VirtualDisplay::start()
{
    // Tests run in parallel; a random number keeps their displays apart.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const int number = 150 + QRandomGenerator::global()->bounded(800);
        const QString socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(number);
        if (QFileInfo::exists(socket))
            continue;
        m_name = QStringLiteral(":%1").arg(number);
        // Without -noreset the server resets whenever its last client leaves, and a program
        // that connects during the reset is refused.
        m_xvfb.start(QStringLiteral("Xvfb"), {m_name, QStringLiteral("-screen"), QStringLiteral("0"),
                                              QStringLiteral("640x480x24"), QStringLiteral("-nolisten"),
                                              QStringLiteral("tcp"), QStringLiteral("-noreset")});
        if (!m_xvfb.waitForStarted(5000))
            return false;
        QDeadlineTimer deadline(10000);
        while (!deadline.hasExpired() && m_xvfb.state() == QProcess::Running) {
            if (QFileInfo::exists(socket))
                return true;
            QThread::msleep(50);
        }
        m_xvfb.kill();
        m_xvfb.waitForFinished(1000);
    }
    m_name.clear();
    return false;
}
