#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <QVariant>

// What went wrong talking to fldigi, as the panel is told it.
struct BridgeFailure
{
    QString text;
};

// The little of XML-RPC that fldigi's interface needs: int, double, string and boolean
// parameters and results. Parsing and encoding are apart from the transport for the tests.
namespace xmlrpc {

QByteArray request(const QString &method, const QVariantList &params);

// The result of a methodResponse; throws BridgeFailure for a fault or a malformed response.
QVariant result(const QByteArray &body);

} // namespace xmlrpc

// Calls methods on one XML-RPC server over HTTP, blocking, each within timeoutMs.
// It connects to the address it is given and to nothing else.
class XmlRpcClient
{
public:
    XmlRpcClient(const QUrl &url, int timeoutMs);

    QVariant call(const QString &method, const QVariantList &params = {}) const;
    QUrl url() const { return m_url; }

private:
    QUrl m_url;
    int m_timeoutMs;
};
