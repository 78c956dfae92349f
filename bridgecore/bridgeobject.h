// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDBusConnection>
#include <QDBusVirtualObject>

class BridgeView;
class CallRunner;

// Serves the host's interface at its object path: reads from the view of the program, macros
// through the runner, and PropertiesChanged when the view shows a value changed. Replies may
// wait for the program, so messages are handled here rather than by an adaptor, whose property
// getters cannot answer later or with an error.
class BridgeObject : public QDBusVirtualObject
{
public:
    BridgeObject(const QDBusConnection &bus, BridgeView &view, CallRunner &runner, QObject *parent = nullptr);

    QString introspect(const QString &path) const override;
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override;

private:
    void announce(const QVariantMap &changes);

    QDBusConnection m_bus;
    BridgeView &m_view;
    CallRunner &m_runner;
    QString m_interfaceXml;
};
