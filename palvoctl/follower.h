// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QVariantMap>

#include <functional>

class QSocketNotifier;

// The host program's PropertiesChanged, as they come: no polling. Arrays (Modes) are passed on
// as string lists.
class Follower : public QObject
{
    Q_OBJECT

public:
    using Changed = std::function<void(const QVariantMap &changed)>;
    Follower(const QDBusConnection &bus, const QString &name, Changed changed);

    // Ends the program (status 0) when the pipe it writes to is closed at the other end, even
    // while nothing changes.
    void watchOutput();

private slots:
    void propertiesChanged(const QString &interface, const QVariantMap &changed, const QStringList &invalidated);

private:
    Changed m_changed;
    QSocketNotifier *m_output = nullptr;
};
