// SPDX-License-Identifier: GPL-3.0-or-later
#include "bridgemain.h"

#include "bridgeobject.h"
#include "contract.h"
#include "hostoptions.h"
#include "namekeeper.h"

#include <QDBusConnection>
#include <QDBusError>

BridgeMain::BridgeMain(int &argc, char **argv, const QString &name, const QString &description, const QString &program,
                       const QString &key)
    : m_app(argc, argv), m_errors(stderr), m_log(m_errors, name), m_program(program), m_key(key),
      m_timeout(QStringLiteral("timeout"),
                QStringLiteral("Milliseconds within which every call is answered, from 100 to 60000 (default 1800)."),
                QStringLiteral("ms"), QStringLiteral("1800"))
{
    QCoreApplication::setApplicationName(name);
    QCoreApplication::setApplicationVersion(QStringLiteral(PALVO_VERSION));
    options.setApplicationDescription(description);
    options.addHelpOption();
    options.addVersionOption();
}

bool BridgeMain::process()
{
    options.addOption(m_timeout);
    parseHostOptions(options, QCoreApplication::arguments());
    bool ok = false;
    m_timeoutMs = options.value(m_timeout).toInt(&ok);
    if (!ok || m_timeoutMs < 100 || m_timeoutMs > 60000) {
        m_log.error(QStringLiteral("--timeout takes a number of milliseconds from 100 to 60000"));
        return false;
    }
    if (m_timeoutMs >= contract::callTimeoutMs)
        m_log.warning(QStringLiteral("the panel waits %1 ms for an answer: with --timeout %2 it may give up on a call "
                                     "that %3 then still carries out").arg(contract::callTimeoutMs).arg(m_timeoutMs).arg(m_program));
    return true;
}

int BridgeMain::serve(BridgeView &view, CallRunner &runner, Presence &presence, const QString &lookingFor,
                      const std::function<void()> &started)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        m_log.error(QStringLiteral("no D-Bus session bus: ") + bus.lastError().message());
        return 1;
    }
    BridgeObject object(bus, view, runner);
    if (!bus.registerVirtualObject(QString::fromLatin1(contract::objectPath), &object)) {
        m_log.error(QStringLiteral("cannot serve ") + QString::fromLatin1(contract::objectPath));
        return 1;
    }
    m_log.info(QStringLiteral("looking for ") + lookingFor);
    NameKeeper name(bus, presence, m_log, m_program, m_key);
    if (started)
        started();
    return QCoreApplication::exec();
}
