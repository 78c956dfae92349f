// SPDX-License-Identifier: GPL-3.0-or-later
// palvo2-fldigi: serves the host's interface on the session bus and carries it out on fldigi.
#include "bridgelog.h"
#include "bridgeobject.h"
#include "contract.h"
#include "fldigibridge.h"
#include "namekeeper.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("palvo2-fldigi"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PALVO_VERSION));
    QTextStream errors(stderr);
    BridgeLog log(errors, QCoreApplication::applicationName());

    QCommandLineParser options;
    options.setApplicationDescription(QStringLiteral(
        "Drives fldigi through its XML-RPC server as the host \"Palvo2.Application\" on the session bus.\n"
        "Owns that name while fldigi answers, and only then."));
    options.addHelpOption();
    options.addVersionOption();
    const QString defaultUrl = QStringLiteral("http://127.0.0.1:7362/RPC2");
    const QCommandLineOption urlOption(QStringLiteral("url"),
                                       QStringLiteral("fldigi's XML-RPC address, http only (default %1).").arg(defaultUrl),
                                       QStringLiteral("url"), defaultUrl);
    const QCommandLineOption timeoutOption(QStringLiteral("timeout"),
                                           QStringLiteral("Milliseconds within which every call is answered, "
                                                          "from 100 to 60000 (default 1800)."),
                                           QStringLiteral("ms"), QStringLiteral("1800"));
    options.addOptions({urlOption, timeoutOption});
    options.process(app);

    const QUrl url(options.value(urlOption), QUrl::StrictMode);
    if (const QString why = FldigiClient::refusal(url); !why.isEmpty()) {
        log.error(QStringLiteral("--url: ") + why);
        return 2;
    }
    bool ok = false;
    const int timeoutMs = options.value(timeoutOption).toInt(&ok);
    if (!ok || timeoutMs < 100 || timeoutMs > 60000) {
        log.error(QStringLiteral("--timeout takes a number of milliseconds from 100 to 60000"));
        return 2;
    }
    if (timeoutMs >= contract::callTimeoutMs)
        log.warning(QStringLiteral("the panel waits %1 ms for an answer: with --timeout %2 it may give up on a call "
                                   "that fldigi then still carries out").arg(contract::callTimeoutMs).arg(timeoutMs));

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        log.error(QStringLiteral("no D-Bus session bus: ") + bus.lastError().message());
        return 1;
    }
    FldigiBridge fldigi(url, log, {.callMs = timeoutMs});
    BridgeObject object(bus, fldigi.view, fldigi.runner);
    if (!bus.registerVirtualObject(QString::fromLatin1(contract::objectPath), &object)) {
        log.error(QStringLiteral("cannot serve ") + QString::fromLatin1(contract::objectPath));
        return 1;
    }
    log.info(QStringLiteral("looking for ") + fldigi.program);
    NameKeeper name(bus, fldigi.presence, log, QStringLiteral("fldigi"), QStringLiteral("fldigi"));
    fldigi.view.start();
    return QCoreApplication::exec();
}
