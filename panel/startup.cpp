// Load and Unload: attach to the running host, fill the mode list, release the host.
#include "form1.h"

#include "hostfailure.h"

#include <QComboBox>
#include <QMessageBox>

const QStringList Form1::modes = {
    QStringLiteral("SSB"),    QStringLiteral("AM"),     QStringLiteral("FM"),
    QStringLiteral("CW"),     QStringLiteral("BPSK31"), QStringLiteral("QPSK31"),
    QStringLiteral("FSK31"),  QStringLiteral("RTTY"),   QStringLiteral("PACKET"),
    QStringLiteral("PACTOR"), QStringLiteral("AMTOR"),  QStringLiteral("MFSK"),
    QStringLiteral("THROB"),  QStringLiteral("MT63"),   QStringLiteral("HELL"),
    QStringLiteral("FAX"),    QStringLiteral("SSTV"),
};

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

    Combo1->addItems(modes);
    Combo1->setCurrentIndex(0);
}

void Form1::Form_Unload()
{
    host.reset();
}
