// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDBusConnection>
#include <QDBusVirtualObject>

class FldigiHost;
class FldigiView;

// Serves the host's interface at its object path: reads from the view of fldigi, macros
// through the host, and PropertiesChanged when the view shows a value changed. Replies may
// wait for fldigi, so messages are handled here rather than by an adaptor, whose property
// getters cannot answer later or with an error.
class BridgeObject : public QDBusVirtualObject
{
public:
    BridgeObject(const QDBusConnection &bus, FldigiView &view, FldigiHost &host, QObject *parent = nullptr);

    QString introspect(const QString &path) const override;
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override;

private:
    void announce(const QVariantMap &changes);

    QDBusConnection m_bus;
    FldigiView &m_view;
    FldigiHost &m_host;
    QString m_interfaceXml;
};
