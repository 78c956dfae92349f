// SPDX-License-Identifier: GPL-3.0-or-later
#include "contract.h"
#include "dbushost.h"
#include "form1.h"
#include "sessionbus.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    // A hung bus is no bus: the panel then says no host is loaded, as it does without one.
    if (const QString silence = shutOutSilentSessionBus(contract::callTimeoutMs); !silence.isEmpty())
        std::fprintf(stderr, "palvo-panel: %s\n", qPrintable(silence));
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("palvo-panel"));
    QApplication::setApplicationDisplayName(Form1::caption);
    QApplication::setDesktopFileName(QStringLiteral("net.palvo.panel")); // the installed desktop entry

    Form1 form([] { return std::unique_ptr<Host>(DBusHost::attachSessionBus()); });
    form.Form_Load();
    form.show();
    return QApplication::exec();
}
