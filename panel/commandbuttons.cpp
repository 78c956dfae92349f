// SPDX-License-Identifier: GPL-3.0-or-later
// Command1 to Command6: each click sends one macro text to the host.
#include "form1.h"

#include "contract.h"
#include "hostfailure.h"

#include <QComboBox>
#include <QLineEdit>

void Form1::sendMacro(const QString &macro)
{
    try {
        host->call(QString::fromLatin1(contract::executeMacros), macro);
    } catch (const HostFailure &failure) {
        reportFailure(failure);
    }
}

void Form1::Command1_Click()
{
    if (canUseHost())
        sendMacro(Text1->text());
}

void Form1::Command2_Click()
{
    if (canUseHost())
        sendMacro(QStringLiteral("<AUDIOFQ:") + Text2->text() + QStringLiteral(">"));
}

void Form1::Command3_Click()
{
    if (canUseHost())
        sendMacro(QStringLiteral("<ZFQ:") + Text3->text() + QStringLiteral(">"));
}

void Form1::Command4_Click()
{
    if (canUseHost())
        sendMacro(QStringLiteral("<RXANDCLEAR>"));
}

void Form1::Command5_Click()
{
    if (canUseHost())
        sendMacro(QStringLiteral("<TX>"));
}

void Form1::Command6_Click()
{
    if (canUseHost())
        sendMacro(QStringLiteral("<MODE:") + Combo1->itemText(Combo1->currentIndex())
                  + QStringLiteral(">"));
}
