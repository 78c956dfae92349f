// SPDX-License-Identifier: GPL-3.0-or-later
// palvo2-wsjtx: serves the host's interface on the session bus and carries it out on WSJT-X.
#include "bridgelog.h"
#include "bridgeobject.h"
#include "contract.h"
#include "namekeeper.h"
#include "wsjtxbridge.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("palvo2-wsjtx"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PALVO_VERSION));
    QTextStream errors(stderr);
    BridgeLog log(errors, QCoreApplication::applicationName());

    QCommandLineParser options;
    options.setApplicationDescription(QStringLiteral(
        "Drives WSJT-X through its UDP messages as the host \"Palvo2.Application\" on the session bus.\n"
        "Owns that name while WSJT-X is heard, and only then."));
    options.addHelpOption();
    options.addVersionOption();
    const QCommandLineOption listenOption(QStringLiteral("listen"),
                                          QStringLiteral("The address and port WSJT-X sends to, its UDP Server "
                                                         "(default 127.0.0.1:2237)."),
                                          QStringLiteral("address:port"), QStringLiteral("127.0.0.1:2237"));
    const QCommandLineOption groupOption(QStringLiteral("multicast"),
                                         QStringLiteral("A multicast group WSJT-X sends to, joined on the interface of "
                                                        "--listen's address, so that other programs can listen too."),
                                         QStringLiteral("group"));
    const QCommandLineOption idOption(QStringLiteral("id"),
                                      QStringLiteral("Follow the WSJT-X with this Id (its --rig-name) rather than the "
                                                     "first heard."),
                                      QStringLiteral("id"));
    const QCommandLineOption timeoutOption(QStringLiteral("timeout"),
                                           QStringLiteral("Milliseconds within which every call is answered, "
                                                          "from 100 to 60000 (default 1800)."),
                                           QStringLiteral("ms"), QStringLiteral("1800"));
    options.addOptions({listenOption, groupOption, idOption, timeoutOption});
    options.process(app);

    WsjtxLink::Options link;
    const QString listen = options.value(listenOption);
    const qsizetype colon = listen.lastIndexOf(u':');
    bool portOk = false;
    link.listen = QHostAddress(listen.left(colon));
    link.port = quint16(listen.mid(colon + 1).toUInt(&portOk));
    if (colon < 0 || link.listen.isNull() || !portOk || link.port == 0) {
        log.error(QStringLiteral("--listen takes an IP address and a port, such as 127.0.0.1:2237"));
        return 2;
    }
    if (options.isSet(groupOption)) {
        link.group = QHostAddress(options.value(groupOption));
        if (!link.group.isMulticast()) {
            log.error(QStringLiteral("--multicast takes a multicast group, such as 239.255.0.1"));
            return 2;
        }
    }
    link.id = options.value(idOption);
    bool ok = false;
    const int timeoutMs = options.value(timeoutOption).toInt(&ok);
    if (!ok || timeoutMs < 100 || timeoutMs > 60000) {
        log.error(QStringLiteral("--timeout takes a number of milliseconds from 100 to 60000"));
        return 2;
    }

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        log.error(QStringLiteral("no D-Bus session bus: ") + bus.lastError().message());
        return 1;
    }
    WsjtxBridge wsjtx(link, log, timeoutMs);
    if (const QString why = wsjtx.link.open(); !why.isEmpty()) {
        log.error(why);
        return 1;
    }
    BridgeObject object(bus, wsjtx.view, wsjtx.runner);
    if (!bus.registerVirtualObject(QString::fromLatin1(contract::objectPath), &object)) {
        log.error(QStringLiteral("cannot serve ") + QString::fromLatin1(contract::objectPath));
        return 1;
    }
    log.info(QStringLiteral("looking for ") + wsjtx.link.name());
    NameKeeper name(bus, wsjtx.presence, log, QStringLiteral("WSJT-X"), QStringLiteral("wsjtx"));
    return QCoreApplication::exec();
}
