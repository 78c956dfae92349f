// SPDX-License-Identifier: GPL-3.0-or-later
#include "privatebus.h"

#include "contract.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QFile>

#include <csignal>

PrivateBus::PrivateBus(const QList<QPair<QString, QString>> &serviceFiles)
{
    const QString services = m_dir.filePath(QStringLiteral("services"));
    QDir().mkpath(services);
    for (const auto &[name, contents] : serviceFiles) {
        QFile file(services + u'/' + name);
        if (file.open(QIODevice::WriteOnly))
            file.write(contents.toUtf8());
    }

    QFile config(m_dir.filePath(QStringLiteral("bus.conf")));
    if (!config.open(QIODevice::WriteOnly))
        return;
    config.write(QStringLiteral(
        "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
        " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
        "<busconfig>\n"
        "  <type>session</type>\n"
        "  <listen>unix:dir=%1</listen>\n"
        "  <servicedir>%2</servicedir>\n"
        "  <policy context=\"default\">\n"
        "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
        "    <allow eavesdrop=\"true\"/>\n"
        "    <allow own=\"*\"/>\n"
        "  </policy>\n"
        "</busconfig>\n").arg(m_dir.path(), services).toUtf8());
    config.close();

    m_daemon.setStandardErrorFile(QProcess::nullDevice()); // its warnings about fd limits are noise
    m_daemon.start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--config-file=") + config.fileName(), QStringLiteral("--nofork"),
                    QStringLiteral("--print-address=1")});
    if (!m_daemon.waitForStarted(5000))
        return;
    QDeadlineTimer deadline(5000);
    while (!m_daemon.canReadLine() && !deadline.hasExpired())
        m_daemon.waitForReadyRead(100);
    m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
}

PrivateBus::~PrivateBus()
{
    for (const QString &name : std::as_const(m_connections))
        QDBusConnection::disconnectFromBus(name);
    ::kill(pid_t(pid()), SIGCONT); // in case a test stopped it
    m_daemon.terminate();
    if (!m_daemon.waitForFinished(3000))
        m_daemon.kill();
    m_daemon.waitForFinished(1000);
}

QProcessEnvironment PrivateBus::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_address);
    return env;
}

QDBusConnection PrivateBus::connect(const QString &name) const
{
    // Qt keeps connections by name: the address makes the name this bus's own.
    const QString unique = name + u'@' + m_address;
    if (!m_connections.contains(unique))
        m_connections.append(unique);
    return QDBusConnection::connectToBus(m_address, unique);
}

bool PrivateBus::nameHasOwner(const QString &name) const
{
    QDBusConnection bus = connect(QStringLiteral("palvo-test-probe"));
    auto message = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
    message << name;
    const QDBusMessage reply = bus.call(message, QDBus::Block, 2000);
    return reply.type() == QDBusMessage::ReplyMessage && reply.arguments().value(0).toBool();
}

SimProcess::SimProcess(const PrivateBus &bus) : m_bus(bus)
{
    m_process.setProcessEnvironment(bus.environment());
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
}

SimProcess::~SimProcess()
{
    kill();
}

bool SimProcess::start()
{
    m_process.start(QStringLiteral(PALVO2_SIM_PATH), {});
    if (!m_process.waitForStarted(5000))
        return false;
    // It says so on stderr once it owns the name, or exits when it cannot.
    QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired() && m_process.state() != QProcess::NotRunning) {
        m_process.waitForReadyRead(50); // buffers both channels
        m_process.setReadChannel(QProcess::StandardError);
        const bool serving = m_process.peek(4096).contains("serving");
        m_process.setReadChannel(QProcess::StandardOutput);
        if (serving)
            return m_bus.nameHasOwner(QString::fromLatin1(contract::busName));
    }
    return false;
}

void SimProcess::kill()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    ::kill(pid_t(m_process.processId()), SIGCONT); // in case a test stopped it
    m_process.kill();
    m_process.waitForFinished(5000);
}

void SimProcess::readOutput()
{
    m_partial += m_process.readAllStandardOutput();
    qsizetype end;
    while ((end = m_partial.indexOf('\n')) >= 0) {
        m_lines.append(QString::fromUtf8(m_partial.left(end)));
        m_partial.remove(0, end + 1);
    }
}

QStringList SimProcess::macros()
{
    readOutput();
    return m_lines;
}

bool SimProcess::waitForMacro(const QString &line, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (macros().contains(line))
            return true;
        if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning)
            return false;
        m_process.waitForReadyRead(50);
    }
}
