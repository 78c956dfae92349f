// palvo2-fldigi: serves the host's interface on the session bus and carries it out on fldigi.
#include "bridgeobject.h"
#include "contract.h"
#include "hostname.h"
#include "fldigihost.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("palvo2-fldigi"));
    QTextStream out(stdout);
    QTextStream errors(stderr);

    QCommandLineParser options;
    options.setApplicationDescription(QStringLiteral("Drives fldigi through its XML-RPC server as the "
                                                     "host \"Palvo2.Application\" on the session bus."));
    options.addHelpOption();
    const QCommandLineOption urlOption(QStringLiteral("url"),
                                       QStringLiteral("fldigi's XML-RPC address (default %1)."),
                                       QStringLiteral("url"), QStringLiteral("http://127.0.0.1:7362/RPC2"));
    options.addOption(urlOption);
    options.process(app);

    const QUrl url(options.value(urlOption));
    if (!url.isValid() || url.scheme() != u"http" || url.host().isEmpty()) {
        errors << "palvo2-fldigi: not an http address: " << options.value(urlOption) << Qt::endl;
        return 2;
    }
    QUrl withPath = url;
    if (withPath.path().isEmpty())
        withPath.setPath(QStringLiteral("/RPC2"));

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        errors << "palvo2-fldigi: no D-Bus session bus: " << bus.lastError().message() << Qt::endl;
        return 1;
    }
    // Well inside the panel's 2 s, so that a silent fldigi is reported as such.
    const XmlRpcClient fldigi(withPath, 1500);
    FldigiHost host(fldigi, errors);
    BridgeObject object(host);
    if (!bus.registerVirtualObject(QString::fromLatin1(contract::objectPath), &object)) {
        errors << "palvo2-fldigi: cannot serve " << contract::objectPath << Qt::endl;
        return 1;
    }
    if (!claimHostName(bus, errors, "palvo2-fldigi"))
        return 1;
    errors << "palvo2-fldigi: serving \"" << contract::busName << "\" for fldigi at "
           << withPath.toString() << Qt::endl;
    return QCoreApplication::exec();
}
