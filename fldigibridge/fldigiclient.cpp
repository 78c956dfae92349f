// SPDX-License-Identifier: GPL-3.0-or-later
#include "fldigiclient.h"

#include "presence.h"

#include <QTimer>

#include <cerrno>
#include <sys/socket.h>

using Cause = BridgeFailure::Cause;

FldigiClient::FldigiClient(const QUrl &url, Presence &presence, QObject *parent)
    : QObject(parent), m_url(url), m_address(url.toString(QUrl::RemoveUserInfo)), m_presence(presence)
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
        if (m_stage == Stage::Connecting)
            send(Stage::SentOnNew);
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
    return {method, xmlrpc::request(method, params), expect, xmlrpc::resendable(method)};
}

FldigiClient::Request FldigiClient::Request::multicall(const QList<xmlrpc::Call> &calls, const QString &name)
{
    const bool reads = std::all_of(calls.cbegin(), calls.cend(), [](const xmlrpc::Call &c) { return xmlrpc::resendable(c.method); });
    return {name, xmlrpc::multicall(calls), xmlrpc::Expect::Anything, reads};
}

void FldigiClient::call(const Request &request, Answer answer, Failure failed)
{
    m_request = request;
    m_answer = std::move(answer);
    m_failed = std::move(failed);
    m_answersWhenSent = m_presence.answers();
    const quint64 call = ++m_calls;
    const qint64 wait = isChange() && m_socket.state() == QAbstractSocket::ConnectedState
                            ? m_peer.waitBeforeChange(m_lastAnswer) : 0;
    if (wait > 0) {
        m_stage = Stage::Waiting;
        QTimer::singleShot(wait, Qt::PreciseTimer, this, [this, call] {
            if (m_stage == Stage::Waiting && call == m_calls)
                sendOnKeptOrNew();
        });
        return;
    }
    sendOnKeptOrNew();
}

void FldigiClient::sendOnKeptOrNew()
{
    if (keptConnectionOpen())
        return send(Stage::SentOnKept);
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
    if (!open)
        m_peer.closedConnection();
    return open;
}

void FldigiClient::connectAndSend()
{
    m_stage = Stage::Connecting;
    m_lastAnswer.invalidate();
    m_socket.abort();
    m_socket.connectToHost(m_url.host(), quint16(m_url.port(80)));
}

void FldigiClient::send(Stage sent)
{
    m_stage = sent; // before the write, which may report an error at once
    m_reply = HttpReply();
    if (isChange())
        ++m_changes;
    if (m_request.written)
        m_request.written();
    m_socket.write(m_head + QByteArray::number(m_request.body.size()) + "\r\n\r\n" + m_request.body);
    m_socket.flush();
}

std::optional<BridgeFailure> FldigiClient::cancel(bool hadItsTime)
{
    if (!busy())
        return std::nullopt;
    const bool sent = m_stage != Stage::Waiting && m_stage != Stage::Connecting;
    const BridgeFailure what =
        m_stage == Stage::Waiting ? BridgeFailure{Cause::OutOfTime, QStringLiteral("%1 was not sent to fldigi at %2 yet").arg(m_request.method, m_address)}
        : sent ? BridgeFailure{Cause::NotAnswering, QStringLiteral("no answer from fldigi at %1 to %2").arg(m_address, m_request.method)}
               : BridgeFailure{Cause::Unreachable, QStringLiteral("no connection to fldigi at %1").arg(m_address)};
    m_socket.abort();
    if (isChange())
        ++m_changes;
    m_stage = Stage::Idle;
    m_answer = nullptr;
    m_failed = nullptr;
    if (hadItsTime && what.cause != Cause::OutOfTime)
        m_presence.silent(what.text, m_answersWhenSent);
    return what;
}

void FldigiClient::readAnswer()
{
    const QByteArray bytes = m_socket.readAll();
    if (m_stage != Stage::SentOnNew && m_stage != Stage::SentOnKept && m_stage != Stage::Answering) {
        m_socket.abort(); // bytes nobody asked for: the connection is out of step
        return;
    }
    take(bytes, false);
}

// Takes more of the answer, the last of it when the connection has closed; true once the call
// has finished with it.
bool FldigiClient::take(const QByteArray &bytes, bool closed)
{
    if (!bytes.isEmpty()) {
        if (m_stage == Stage::SentOnKept)
            m_peer.keptConnection(); // it took a second request on the connection
        m_stage = Stage::Answering;
    }
    HttpReply::State state = m_reply.feed(bytes);
    if (closed && state == HttpReply::State::Incomplete)
        state = m_reply.finish();
    if (m_reply.headRead() && m_reply.status() != 200) {
        m_socket.abort();
        const BridgeFailure failure{Cause::HttpStatus, QStringLiteral("fldigi at %1 answered %2 with \"%3\"")
                                                           .arg(m_address, m_request.method,
                                                                QString::fromLatin1(m_reply.statusLine()))};
        finish(&failure);
        return true;
    }
    if (state == HttpReply::State::Failed && !closed) {
        m_socket.abort();
        const BridgeFailure failure{Cause::Malformed, QStringLiteral("fldigi at %1 sent a malformed answer to %2: %3")
                                                          .arg(m_address, m_request.method, m_reply.error())};
        finish(&failure);
        return true;
    }
    if (state != HttpReply::State::Complete)
        return false;
    m_presence.answered();
    m_lastAnswer.start();
    m_answeredAt.start();
    if (closed || !m_reply.keepAlive() || m_reply.excess())
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
    return true;
}

void FldigiClient::socketError(QAbstractSocket::SocketError error)
{
    const bool closed = error == QAbstractSocket::RemoteHostClosedError;
    const QString reason = m_socket.errorString();
    BridgeFailure failure{Cause::ConnectionLost, QStringLiteral("the connection to fldigi at %1 broke during %2 (%3)")
                                                     .arg(m_address, m_request.method, reason)};
    switch (m_stage) {
    case Stage::Idle:
    case Stage::Waiting: // a change waiting out the grace goes on a new connection
        if (closed)
            m_peer.closedConnection();
        m_socket.abort();
        return;
    case Stage::Connecting:
        if (error == QAbstractSocket::ConnectionRefusedError)
            // Refused a moment after an answer: a tunnel that closed, as likely as fldigi ending.
            failure = {Cause::NotRunning,
                       m_answeredAt.isValid() && m_answeredAt.elapsed() < 1000
                           ? QStringLiteral("fldigi is not running at %1 (connection refused %2 ms after it answered: "
                                            "a tunnel to it may have closed)").arg(m_address).arg(m_answeredAt.elapsed())
                           : QStringLiteral("fldigi is not running at %1 (connection refused)").arg(m_address)};
        else if (error == QAbstractSocket::HostNotFoundError)
            failure = {Cause::Unreachable, QStringLiteral("cannot find the host of fldigi's address %1").arg(m_address)};
        else
            failure = {Cause::Unreachable, QStringLiteral("cannot reach fldigi at %1 (%2)").arg(m_address, reason)};
        break;
    case Stage::SentOnKept:
    case Stage::SentOnNew:
    case Stage::Answering:
        if (closed) {
            // What came before the close may be a whole answer that ends with the connection.
            const QByteArray last = m_socket.readAll();
            if ((!last.isEmpty() || m_stage == Stage::Answering) && take(last, true))
                return;
        }
        if (closed && m_stage == Stage::SentOnKept) {
            // The kept connection closed as the request went out: fldigi has not answered it.
            m_peer.closedConnection();
            m_socket.abort();
            if (m_request.resendable) {
                // Not from within the socket's own error handling, which goes on after this.
                m_stage = Stage::Connecting;
                QTimer::singleShot(0, this, [this, call = m_calls] {
                    if (m_stage == Stage::Connecting && call == m_calls)
                        connectAndSend();
                });
                return;
            }
            const BridgeFailure crossed{Cause::CrossedClose,
                                        QStringLiteral("fldigi at %1 closed the kept connection as %2 went out; it was "
                                                       "not sent again").arg(m_address, m_request.method)};
            return finish(&crossed);
        }
        break;
    }
    m_socket.abort();
    m_presence.silent(failure.text, m_answersWhenSent);
    finish(&failure);
}

// The callback runs from the event loop: one run from within the socket's error signal would
// open the next connection there, and the socket's own handling would then tear it down.
void FldigiClient::finish(const BridgeFailure *failure, const QVariant &value)
{
    if (isChange())
        ++m_changes;
    m_stage = Stage::Idle;
    std::function<void()> deliver;
    if (failure)
        deliver = [failed = std::exchange(m_failed, nullptr), failure = *failure] { failed(failure); };
    else
        deliver = [answer = std::exchange(m_answer, nullptr), value] { answer(value); };
    m_answer = nullptr;
    m_failed = nullptr;
    QMetaObject::invokeMethod(this, deliver, Qt::QueuedConnection);
}
