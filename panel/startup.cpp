// SPDX-License-Identifier: GPL-3.0-or-later
// Load and Unload: attach to the running host, fill the mode list, release the host.
#include "form1.h"

#include "contract.h"
#include "hostfailure.h"

#include <QComboBox>
#include <QMessageBox>

void Form1::Form_Load()
{
    hostLoaded = true;

    // A failed attach is noted and Load goes on: the panel opens either way.
    bool attached = false;
    try {
        host = m_attach();
        attached = host != nullptr;
    } catch (const HostFailure &) {
        host.reset();
    }

    if (!attached) {
        // Timer1 ticks while this box is open; the tick handler sees no host and does nothing.
        QMessageBox box(QMessageBox::NoIcon, caption, QStringLiteral("Palvo2 is not loaded"),
                        QMessageBox::Ok);
        box.exec();
        hostLoaded = false;
    }

    for (const char *mode : contract::modes)
        Combo1->addItem(QString::fromLatin1(mode));
    Combo1->setCurrentIndex(0);
}

void Form1::Form_Unload()
{
    host.reset();
}
