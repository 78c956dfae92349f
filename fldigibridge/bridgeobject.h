// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDBusVirtualObject>

class FldigiHost;

// Serves the host's interface at its object path. Replies wait for fldigi, so messages are
// handled here rather than by an adaptor, whose property getters cannot answer later or with
// an error.
class BridgeObject : public QDBusVirtualObject
{
public:
    explicit BridgeObject(FldigiHost &host, QObject *parent = nullptr);

    QString introspect(const QString &path) const override;
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override;

private:
    FldigiHost &m_host;
    QString m_interfaceXml;
};
