#pragma once

#include <QDBusVirtualObject>

class FldigiHost;

// Serves the host's interface at its object path. Property reads are answered from fldigi,
// so Properties.Get is handled here rather than through QObject properties, which cannot
// answer with an error.
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
