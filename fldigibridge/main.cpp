// SPDX-License-Identifier: GPL-3.0-or-later
// palvo2-fldigi: serves the host's interface on the session bus and carries it out on fldigi.
#include "bridgemain.h"
#include "fldigibridge.h"

int main(int argc, char *argv[])
{
    BridgeMain bridge(argc, argv, QStringLiteral("palvo2-fldigi"),
                      QStringLiteral("Drives fldigi through its XML-RPC server as the host \"Palvo2.Application\" on "
                                     "the session bus.\nOwns that name while fldigi answers, and only then."),
                      QStringLiteral("fldigi"), QStringLiteral("fldigi"));
    const QString defaultUrl = QStringLiteral("http://127.0.0.1:7362/RPC2");
    const QCommandLineOption urlOption(QStringLiteral("url"),
                                       QStringLiteral("fldigi's XML-RPC address, http only (default %1).").arg(defaultUrl),
                                       QStringLiteral("url"), defaultUrl);
    bridge.options.addOption(urlOption);
    const bool timeoutOk = bridge.process();
    const QUrl url(bridge.options.value(urlOption), QUrl::StrictMode);
    if (const QString why = FldigiClient::refusal(url); !why.isEmpty()) {
        bridge.log().error(QStringLiteral("--url: ") + why);
        return 2;
    }
    if (!timeoutOk)
        return 2;

    FldigiBridge fldigi(url, bridge.log(), {.callMs = bridge.timeoutMs()});
    return bridge.serve(fldigi.view, fldigi.runner, fldigi.presence, fldigi.program, [&] { fldigi.view.start(); });
}
