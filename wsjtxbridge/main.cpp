// SPDX-License-Identifier: GPL-3.0-or-later
// palvo2-wsjtx: serves the host's interface on the session bus and carries it out on WSJT-X.
#include "bridgemain.h"
#include "wsjtxbridge.h"

int main(int argc, char *argv[])
{
    BridgeMain bridge(argc, argv, QStringLiteral("palvo2-wsjtx"),
                      QStringLiteral("Drives WSJT-X through its UDP messages as the host \"Palvo2.Application\" on the "
                                     "session bus.\nOwns that name while WSJT-X is heard, and only then."),
                      QStringLiteral("WSJT-X"), QStringLiteral("wsjtx"));
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
    bridge.options.addOptions({listenOption, groupOption, idOption});
    if (!bridge.process())
        return 2;
    BridgeLog &log = bridge.log();

    WsjtxLink::Options link;
    const QString listen = bridge.options.value(listenOption);
    const qsizetype colon = listen.lastIndexOf(u':');
    bool portOk = false;
    link.listen = QHostAddress(listen.left(colon));
    const uint port = listen.mid(colon + 1).toUInt(&portOk);
    link.port = quint16(port);
    if (colon < 0 || link.listen.isNull() || !portOk || port == 0 || port > 65535) {
        log.error(QStringLiteral("--listen takes an IP address and a port from 1 to 65535, such as 127.0.0.1:2237"));
        return 2;
    }
    if (bridge.options.isSet(groupOption)) {
        link.group = QHostAddress(bridge.options.value(groupOption));
        if (!link.group.isMulticast()) {
            log.error(QStringLiteral("--multicast takes a multicast group, such as 239.255.0.1"));
            return 2;
        }
    }
    link.id = bridge.options.value(idOption);

    WsjtxBridge wsjtx(link, log, bridge.timeoutMs());
    if (const QString why = wsjtx.link.open(); !why.isEmpty()) {
        log.error(why);
        return 1;
    }
    return bridge.serve(wsjtx.view, wsjtx.runner, wsjtx.presence, wsjtx.link.name());
}
