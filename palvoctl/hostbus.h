// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDBusConnection>
#include <QStringList>
#include <QVariantMap>

// The host program behind one bus name, as palvoctl reaches it: every call bounded, never
// starting a program, and its failure thrown as a CtlFailure with the exit status it means.
struct CtlFailure
{
    enum Status { HostFailed = 1, Usage = 2, NoHost = 3 };
    int status;
    QString text;
};

// Property values as D-Bus delivers them, with arrays (Modes) as string lists.
QVariantMap plainValues(QVariantMap values);

class HostBus
{
public:
    // name: a program's key ("fldigi", "wsjtx", "sim"), a whole bus name, or empty for the host's.
    HostBus(const QDBusConnection &bus, const QString &name, int timeoutMs);

    QString name() const { return m_name; }
    QVariantMap readAll() const;
    void execute(const QString &macro) const;
    // The key of the program that owns the name ("fldigi", ...), or its unique name.
    QString program() const;

    // Every host program on the bus: what owns the host's name, each program's own name, and
    // who waits in the host name's queue; a line each.
    static QStringList list(const QDBusConnection &bus, int timeoutMs);

    static constexpr const char *programs[] = {"fldigi", "wsjtx", "sim"};

private:
    QDBusMessage call(const QString &service, const QString &path, const QString &interface, const QString &method,
                      const QVariantList &arguments) const;

    QDBusConnection m_bus;
    QString m_name;
    int m_timeoutMs;
};
