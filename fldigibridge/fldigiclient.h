// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "bridgefailure.h"
#include "httpreply.h"
#include "xmlrpc.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTcpSocket>
#include <QUrl>

#include <functional>

// fldigi's XML-RPC server over one kept-alive HTTP/1.1 connection, opened when a call needs it
// and again after it breaks. One call at a time, never blocking: the answer or the failure
// comes back through the call's callbacks. The caller bounds a call in time with cancel().
//
// fldigi, or a tunnel on the way, may close the kept connection between two calls. A close
// noticed before a request goes out costs a new connection. A request that crosses the close
// (no byte of its answer came) is sent once more on a new connection when it only reads; one
// that may change fldigi is never sent twice: it fails, and says so. Once the peer has been
// seen closing connections, a change right after an answer waits a moment for the close.
class FldigiClient : public QObject
{
    Q_OBJECT

public:
    using Answer = std::function<void(const QVariant &)>;
    using Failure = std::function<void(const BridgeFailure &)>;

    struct Request
    {
        QString method;   // named in failures
        QByteArray body;  // the methodCall
        xmlrpc::Expect expect = xmlrpc::Expect::Anything;
        bool readsOnly = false; // may be sent again

        static Request call(const QString &method, const QVariantList &params, xmlrpc::Expect expect);
        static Request multicall(const QList<xmlrpc::Call> &calls, const QString &name);
    };

    explicit FldigiClient(const QUrl &url, QObject *parent = nullptr);

    // Exactly one of answer and failed is called later, unless the call is cancelled first.
    void call(const Request &request, Answer answer, Failure failed);
    void call(const QString &method, const QVariantList &params, xmlrpc::Expect expect, Answer answer,
              Failure failed)
    {
        call(Request::call(method, params, expect), std::move(answer), std::move(failed));
    }

    // Drops the call in progress, closing its connection so that nothing more of it is sent
    // and no late answer is taken for the next call. Says what the call was waiting for.
    QString cancel();

    QString address() const { return m_address; }

    // Checks an address given by the user: http only, with a host, and no user name or
    // password (fldigi takes none, and they would travel in the clear). Empty when it is fine.
    static QString refusal(const QUrl &url);

private:
    // How soon after its answer a peer that closes each connection has closed it.
    static constexpr int closeGraceMs = 50;

    bool busy() const { return bool(m_answer); }
    void sendOnKeptOrNew();
    bool keptConnectionOpen();
    void connectAndSend();
    void send();
    void readAnswer();
    void socketError(QAbstractSocket::SocketError error);
    void finish(const BridgeFailure *failure, const QVariant &value = {});

    QTcpSocket m_socket;
    QUrl m_url;
    QString m_address;
    QByteArray m_head; // request line and the headers that do not change

    Request m_request;
    Answer m_answer;
    Failure m_failed;
    HttpReply m_reply;
    bool m_sent = false;
    bool m_reused = false;  // the request went out on a connection an earlier one used
    bool m_answered = false; // a byte of the answer has come
    bool m_resent = false;
    bool m_closingPeer = false; // the peer was seen closing a connection it had answered on
    QElapsedTimer m_lastAnswer;
    quint64 m_calls = 0; // tells a call from the one before it
};
