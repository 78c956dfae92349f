// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "tiedprocess.h"

#include <QDBusConnection>
#include <QStringList>
#include <QTemporaryDir>

// A dbus-daemon of the test's own, never the user's session bus.
class PrivateBus
{
public:
    // serviceFiles: file name -> contents, put in the bus's activation directory.
    explicit PrivateBus(const QList<QPair<QString, QString>> &serviceFiles = {});
    ~PrivateBus();

    bool isRunning() const { return !m_address.isEmpty(); }
    QString address() const { return m_address; }
    QString dir() const { return m_dir.path(); }
    qint64 pid() const { return m_daemon.processId(); } // the dbus-daemon
    QProcessEnvironment environment() const; // this process's, pointed at this bus

    // A connection of the test's own to this bus; name distinguishes several.
    QDBusConnection connect(const QString &name) const;
    bool nameHasOwner(const QString &name) const;

private:
    QTemporaryDir m_dir;
    TiedProcess m_daemon;
    QString m_address;
    mutable QStringList m_connections;
};

// The stand-in host, started on a private bus.
class SimProcess
{
public:
    explicit SimProcess(const PrivateBus &bus);
    ~SimProcess();

    // Starts it and waits until it owns the host's name.
    bool start();
    void kill();
    qint64 pid() const { return m_process.processId(); }
    QProcess &process() { return m_process; }

    // Waits until the host has printed this line on stdout (a macro text it received).
    bool waitForMacro(const QString &line, int timeoutMs = 5000);
    QStringList macros(); // every macro line so far

private:
    void readOutput();

    const PrivateBus &m_bus;
    TiedProcess m_process;
    QStringList m_lines;
    QByteArray m_partial;
};
