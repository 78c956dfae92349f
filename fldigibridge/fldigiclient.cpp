// SPDX-License-Identifier: GPL-3.0-or-later
#include "fldigiclient.h"

#include <QTimer>

#include <cerrno>
#include <sys/socket.h>

using Cause = BridgeFailure::Cause;

FldigiClient::FldigiClient(const QUrl &url, QObject *parent)
    : QObject(parent), m_url(url), m_address(url.toString(QUrl::RemoveUserInfo))
{
    QByteArray path = url.path(QUrl::FullyEncoded).toUtf8();
    if (path.isEmpty())
        path = "/RPC2";
    if (url.hasQuery())
        path += '?' + url.query(QUrl::FullyEncoded).toUtf8();
    m_head = "POST " + path + " HTTP/1.1\r\nHost: " + url.authority(QUrl::RemoveUserInfo | QUrl::FullyEncoded).toUtf8()
             + "\r\nContent-Type: text/xml\r\nContent-Length: ";

    connect(&m_socket, &QTcpSocket::connected, this, [this] {
        m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        if (busy())
            send();
    });
    connect(&m_socket, &QTcpSocket::readyRead, this, &FldigiClient::readAnswer);
    connect(&m_socket, &QAbstractSocket::errorOccurred, this, &FldigiClient::socketError);
}

QString FldigiClient::refusal(const QUrl &url)
{
    if (!url.isValid())
        return QStringLiteral("not a valid address");
    if (url.scheme() != u"http")
        return QStringLiteral("fldigi's XML-RPC server speaks plain http only; reach a fldigi on another "
                              "machine through an SSH tunnel");
    if (url.host().isEmpty())
        return QStringLiteral("the address names no host");
    if (!url.userInfo().isEmpty())
        return QStringLiteral("fldigi takes no user name or password, and one in the address would be "
                              "sent in the clear; leave it out");
    return {};
}

FldigiClient::Request FldigiClient::Request::call(const QString &method, const QVariantList &params,
                                                  xmlrpc::Expect expect)
{
    return {method, xmlrpc::request(method, params), expect, xmlrpc::readsOnly(method)};
}

FldigiClient::Request FldigiClient::Request::multicall(const QList<xmlrpc::Call> &calls, const QString &name)
{
    const bool reads = std::all_of(calls.cbegin(), calls.cend(), [](const xmlrpc::Call &c) { return xmlrpc::readsOnly(c.method); });
    return {name, xmlrpc::multicall(calls), xmlrpc::Expect::Anything, reads};
}

void FldigiClient::call(const Request &request, Answer answer, Failure failed)
{
    m_request = request;
    m_answer = std::move(answer);
    m_failed = std::move(failed);
    m_resent = false;
    m_sent = false;
    const quint64 call = ++m_calls;
    // A peer that closes each connection after its answer closes it a moment later: a change
    // sent in that moment would cross the close, so it waits for the moment to pass.
    const qint64 early = m_lastAnswer.isValid() ? closeGraceMs - m_lastAnswer.elapsed() : 0;
    if (m_closingPeer && !m_request.readsOnly && early > 0 && m_socket.state() == QAbstractSocket::ConnectedState) {
        QTimer::singleShot(early, this, [this, call] {
            if (busy() && call == m_calls)
                sendOnKeptOrNew();
        });
        return;
    }
    sendOnKeptOrNew();
}

void FldigiClient::sendOnKeptOrNew()
{
    if (keptConnectionOpen()) {
        m_reused = true;
        return send();
    }
    connectAndSend();
}

// A close that came while the connection sat idle may not have reached the event loop yet:
// a look at the socket, without reading, tells. Bytes nobody asked for put it out of step.
bool FldigiClient::keptConnectionOpen()
{
    if (m_socket.state() != QAbstractSocket::ConnectedState)
        return false;
    char byte;
    const ssize_t peeked = ::recv(int(m_socket.socketDescriptor()), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    const bool nothingYet = peeked < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    const bool open = nothingYet && m_socket.bytesAvailable() == 0;
    m_closingPeer = m_closingPeer || !open;
    return open;
}

void FldigiClient::connectAndSend()
{
    m_reused = false;
    m_sent = false;
    m_socket.abort();
    m_socket.connectToHost(m_url.host(), quint16(m_url.port(80)));
}

void FldigiClient::send()
{
    m_reply = HttpReply();
    m_answered = false;
    m_socket.write(m_head + QByteArray::number(m_request.body.size()) + "\r\n\r\n" + m_request.body);
    m_socket.flush();
    m_sent = true;
}

QString FldigiClient::cancel()
{
    if (!busy())
        return {};
    const QString what = m_sent ? QStringLiteral("no answer from fldigi at %1 to %2").arg(m_address, m_request.method)
                                : QStringLiteral("no connection to fldigi at %1").arg(m_address);
    m_socket.abort();
    m_answer = nullptr;
    m_failed = nullptr;
    return what;
}

void FldigiClient::readAnswer()
{
    const QByteArray bytes = m_socket.readAll();
    if (!busy() || !m_sent) {
        m_socket.abort(); // bytes nobody asked for: the connection is out of step
        return;
    }
    m_answered = m_answered || !bytes.isEmpty();
    const HttpReply::State state = m_reply.feed(bytes);
    if (m_reply.headRead() && m_reply.status() != 200) {
        m_socket.abort();
        const BridgeFailure failure{Cause::HttpStatus, QStringLiteral("fldigi at %1 answered %2 with \"%3\"")
                                                           .arg(m_address, m_request.method,
                                                                QString::fromLatin1(m_reply.statusLine()))};
        return finish(&failure);
    }
    if (state == HttpReply::State::Failed) {
        m_socket.abort();
        const BridgeFailure failure{Cause::Malformed, QStringLiteral("fldigi at %1 sent a malformed answer to %2: %3")
                                                          .arg(m_address, m_request.method, m_reply.error())};
        return finish(&failure);
    }
    if (state != HttpReply::State::Complete)
        return;
    m_lastAnswer.start();
    if (m_reused)
        m_closingPeer = false; // the peer kept the connection for another request
    if (!m_reply.keepAlive() || m_reply.excess())
        m_socket.abort();
    try {
        const QVariant value = xmlrpc::expect(xmlrpc::answer(m_reply.body()), m_request.expect);
        finish(nullptr, value);
    } catch (BridgeFailure &failure) {
        failure.text = failure.cause == Cause::Fault
                           ? QStringLiteral("fldigi refused %1: %2").arg(m_request.method, failure.text)
                           : QStringLiteral("fldigi at %1 sent a malformed answer to %2: %3")
                                 .arg(m_address, m_request.method, failure.text);
        finish(&failure);
    }
}

void FldigiClient::socketError(QAbstractSocket::SocketError error)
{
    const bool closed = error == QAbstractSocket::RemoteHostClosedError;
    if (!busy() || (closed && !m_sent)) { // idle, or a change waiting for the close: it goes on a new one
        m_closingPeer = m_closingPeer || closed;
        m_socket.abort();
        return;
    }
    if (closed && m_sent) {
        // What came before the close may be a whole answer that ends with the connection.
        const QByteArray last = m_socket.readAll();
        m_answered = m_answered || !last.isEmpty();
        m_reply.feed(last);
        if (m_reply.finish() == HttpReply::State::Complete)
            return readAnswer();
    }
    if (closed && m_sent && m_reused && !m_answered) {
        // The kept connection closed as the request went out: fldigi has not answered it.
        m_closingPeer = true;
        if (m_request.readsOnly && !std::exchange(m_resent, true)) {
            // Not from within the socket's own error handling, which goes on after this.
            m_socket.abort();
            const quint64 call = m_calls;
            QTimer::singleShot(0, this, [this, call] {
                if (busy() && call == m_calls)
                    connectAndSend();
            });
            return;
        }
        if (!m_request.readsOnly) {
            m_socket.abort();
            const BridgeFailure failure{Cause::CrossedClose,
                                        QStringLiteral("fldigi at %1 closed the kept connection as %2 went out; it was "
                                                       "not sent again").arg(m_address, m_request.method)};
            return finish(&failure);
        }
    }
    const QString reason = m_socket.errorString();
    BridgeFailure failure{Cause::ConnectionLost, QStringLiteral("the connection to fldigi at %1 broke during %2 (%3)")
                                                     .arg(m_address, m_request.method, reason)};
    if (error == QAbstractSocket::ConnectionRefusedError)
        failure = {Cause::NotRunning, QStringLiteral("fldigi is not running at %1 (connection refused)").arg(m_address)};
    else if (error == QAbstractSocket::HostNotFoundError)
        failure = {Cause::Unreachable, QStringLiteral("cannot find the host of fldigi's address %1").arg(m_address)};
    else if (!m_sent)
        failure = {Cause::Unreachable, QStringLiteral("cannot reach fldigi at %1 (%2)").arg(m_address, reason)};
    m_socket.abort();
    finish(&failure);
}

void FldigiClient::finish(const BridgeFailure *failure, const QVariant &value)
{
    const Answer answer = std::exchange(m_answer, nullptr);
    const Failure failed = std::exchange(m_failed, nullptr);
    if (failure)
        failed(*failure);
    else
        answer(value);
}
