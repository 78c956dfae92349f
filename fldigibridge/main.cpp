// SPDX-License-Identifier: GPL-3.0-or-later
// palvo2-fldigi: serves the host's interface on the session bus and carries it out on fldigi.
#include "bridgeobject.h"
#include "contract.h"
#include "fldigiclient.h"
#include "fldigihost.h"
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
        errors << "palvo2-fldigi: --url: " << why << Qt::endl;
        return 2;
    }
    bool ok = false;
    const int timeoutMs = options.value(timeoutOption).toInt(&ok);
    if (!ok || timeoutMs < 100 || timeoutMs > 60000) {
        errors << "palvo2-fldigi: --timeout takes a number of milliseconds from 100 to 60000" << Qt::endl;
        return 2;
    }
    if (timeoutMs >= contract::callTimeoutMs)
        errors << "palvo2-fldigi: the panel waits " << contract::callTimeoutMs << " ms for an answer: with --timeout " << timeoutMs
               << " it may give up on a call that fldigi then still carries out" << Qt::endl;

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        errors << "palvo2-fldigi: no D-Bus session bus: " << bus.lastError().message() << Qt::endl;
        return 1;
    }
    FldigiClient fldigi(url);
    FldigiHost host(fldigi, timeoutMs, errors);
    BridgeObject object(host);
    if (!bus.registerVirtualObject(QString::fromLatin1(contract::objectPath), &object)) {
        errors << "palvo2-fldigi: cannot serve " << contract::objectPath << Qt::endl;
        return 1;
    }
    errors << "palvo2-fldigi: looking for fldigi at " << fldigi.address() << Qt::endl;
    NameKeeper name(bus, host, errors);
    return QCoreApplication::exec();
}
