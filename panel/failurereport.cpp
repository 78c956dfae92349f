// SPDX-License-Identifier: GPL-3.0-or-later
// A failure that leaves a handler: reported once, then the program ends with status 1. A
// refusal (the host declined the call before carrying any of it out) is reported the same way,
// and the panel goes on.
#include "form1.h"

#include "hostfailure.h"

#include <QMessageBox>
#include <QTimer>

#include <cstdio>

void Form1::reportFailure(const HostFailure &failure)
{
    // Block everything first: the message box below runs the event loop, and neither a
    // tick nor a click may reach the host, or stack a second report, while it is open.
    m_failed = true;
    Timer1->stop();

    // What happened in words first; the number, the error's name and the host's text after it.
    std::fprintf(stderr, "%s %s\n", qPrintable(failure.inWords()), qPrintable(failure.toString()));
    std::fflush(stderr);

    QMessageBox box(QMessageBox::Critical, caption, failure.inWords() + QStringLiteral("\n\n") + failure.toString(),
                    QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText); // the host's text, never markup or links
    box.exec();
    if (!failure.refused)
        return endProgram(1);
    m_failed = false;
    Timer1->start();
}
