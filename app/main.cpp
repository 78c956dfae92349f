// SPDX-License-Identifier: GPL-3.0-or-later
#include "contract.h"
#include "dbushost.h"
#include "form1.h"
#include "sessionbus.h"

#include <QApplication>

#include <cstdio>

// Qt ends a program it finds no display for with an abort and a core; a user gets one line.
bool displayMissing()
{
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    const bool needsOne = platform.isEmpty() || platform.startsWith("xcb") || platform.startsWith("wayland");
    return needsOne && qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

int main(int argc, char *argv[])
{
    if (displayMissing()) {
        std::fprintf(stderr, "palvo-panel: no display to open the window on (neither DISPLAY nor WAYLAND_DISPLAY is set)\n");
        return 1;
    }
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
