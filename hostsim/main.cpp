// SPDX-License-Identifier: GPL-3.0-or-later
// palvo2-sim: a stand-in host on the session bus, for trying the panel without a radio.
#include "contract.h"
#include "hostname.h"
#include "hostoptions.h"
#include "palvo2adaptor.h"
#include "simhost.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("palvo2-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PALVO_VERSION));
    QCommandLineParser options;
    options.setApplicationDescription(QStringLiteral(
        "A stand-in host \"Palvo2.Application\" on the session bus, for trying the panel without a "
        "radio.\nPrints each macro text it receives on stdout, and what it ignored on stderr."));
    options.addHelpOption();
    options.addVersionOption();
    parseHostOptions(options, QCoreApplication::arguments());
    QTextStream out(stdout);
    QTextStream errors(stderr);

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        errors << "palvo2-sim: no D-Bus session bus: " << bus.lastError().message() << Qt::endl;
        return 1;
    }

    SimHost host(bus, out, errors);
    new Palvo2Adaptor(&host);
    if (!bus.registerObject(QString::fromLatin1(contract::objectPath), &host)) {
        errors << "palvo2-sim: cannot serve " << contract::objectPath << Qt::endl;
        return 1;
    }
    if (const QString refusal = claimHostName(bus, QStringLiteral("sim")); !refusal.isEmpty()) {
        errors << "palvo2-sim: " << refusal << Qt::endl;
        return 1;
    }
    errors << "palvo2-sim: serving \"" << contract::busName << "\", \"" << contract::busName << ".sim\" as " << bus.baseService()
           << Qt::endl;
    return QCoreApplication::exec();
}
