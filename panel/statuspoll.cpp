// SPDX-License-Identifier: GPL-3.0-or-later
// Timer1: show the host's audio frequency, rig frequency and mode.
#include "form1.h"

#include "contract.h"
#include "hostfailure.h"
#include "valuetext.h"

#include <QLabel>

void Form1::Timer1_Timer()
{
    if (!canUseHost())
        return;
    try {
        // Each read comes right before its label: a failure leaves the earlier labels written.
        Label6->setText(valueText(host->read(QString::fromLatin1(contract::audioFq))) + QStringLiteral(" Hz"));
        Label7->setText(numberText(valueNumber(host->read(QString::fromLatin1(contract::fqA))) / 1000)
                        + QStringLiteral(" kHz"));
        Label8->setText(valueText(host->read(QString::fromLatin1(contract::mode))));
    } catch (const HostFailure &failure) {
        reportFailure(failure);
    }
}
