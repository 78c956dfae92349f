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
#include <optional>

class Presence;

// Whether the peer keeps a connection open after its answer. fldigi 4.1.23 does: it kept one
// connection for three calls and five idle seconds. A proxy or tunnel end in between, or a
// server that answers in HTTP/1.0, may close each connection a moment after its answer without
// saying so in it, and a request sent in that moment crosses the close: a read can go again,
// a change cannot, since fldigi may have taken it. So until the peer has kept a connection for
// a second request, and again once it is seen closing one, a change that follows an answer on
// the same connection waits out graceMs from that answer: such peers close within a few
// milliseconds, and 50 ms costs a change little even on a local fldigi. It cannot protect a
// change from a close that comes later than that, or for another reason: that change fails,
// and says it was not sent again.
class ClosingPeer
{
public:
    static constexpr int graceMs = 50;

    void keptConnection() { m_habit = Habit::Keeps; }
    void closedConnection() { m_habit = Habit::Closes; }
    // How long a change waits, given when the connection's last answer came.
    qint64 waitBeforeChange(const QElapsedTimer &lastAnswer) const
    {
        if (m_habit == Habit::Keeps || !lastAnswer.isValid())
            return 0;
        return qMax<qint64>(0, graceMs - lastAnswer.elapsed());
    }

private:
    enum class Habit { Unknown, Keeps, Closes };
    Habit m_habit = Habit::Unknown;
};

// fldigi's XML-RPC server over one kept-alive HTTP/1.1 connection, opened when a call needs it
// and again after it breaks. One call at a time, never blocking: the answer or the failure
// comes back through the call's callbacks, from the event loop, never from within a signal of
// the socket. The caller bounds a call in time with cancel().
//
// A close noticed before a request goes out costs a new connection. A request that crosses the
// close (no byte of its answer came) is sent once more on a new connection when it only reads;
// one that may change fldigi is never sent twice: it fails, and says so.
//
// What the client hears of fldigi it tells a Presence: every answer, and silence (a refused,
// reset or closed connection, and a cancel that says the request had all of its time).
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
        bool resendable = false;     // only reads
        std::function<void()> written = {}; // called as its first byte goes out

        static Request call(const QString &method, const QVariantList &params, xmlrpc::Expect expect);
        static Request multicall(const QList<xmlrpc::Call> &calls, const QString &name);
    };

    FldigiClient(const QUrl &url, Presence &presence, QObject *parent = nullptr);

    // Exactly one of answer and failed is called later, unless the call is cancelled first.
    void call(const Request &request, Answer answer, Failure failed);

    // Drops the call in progress, closing its connection so that nothing more of it is sent and
    // no late answer is taken for the next call. Says what the call was waiting for; nothing when
    // no call was in progress. hadItsTime: fldigi's silence for the request's whole time.
    std::optional<BridgeFailure> cancel(bool hadItsTime);

    // Requests that may change fldigi, counted as each goes out and again as it ends: a read in
    // flight across a change of the count may show what was before a change.
    quint64 changes() const { return m_changes; }

    QString address() const { return m_address; }

    // Checks an address given by the user: http only, with a host, and no user name or
    // password (fldigi takes none, and they would travel in the clear). Empty when it is fine.
    static QString refusal(const QUrl &url);

private:
    enum class Stage {
        Idle,
        Waiting,    // a change waits out the grace of a peer that may close after its answer
        Connecting, // a new connection opens; the request goes when it is up
        SentOnNew,  // written on a new connection; no byte of the answer yet
        SentOnKept, // written on a connection an earlier answer came on; a close now crossed it
        Answering,  // part of the answer has come
    };

    bool busy() const { return m_stage != Stage::Idle; }
    bool isChange() const { return !m_request.resendable; }
    void sendOnKeptOrNew();
    bool keptConnectionOpen();
    void connectAndSend();
    void send(Stage sent);
    void readAnswer();
    bool take(const QByteArray &bytes, bool closed);
    void socketError(QAbstractSocket::SocketError error);
    void finish(const BridgeFailure *failure, const QVariant &value = {});

    QTcpSocket m_socket;
    QUrl m_url;
    QString m_address;
    QByteArray m_head; // request line and the headers that do not change
    Presence &m_presence;

    Stage m_stage = Stage::Idle;
    Request m_request;
    Answer m_answer;
    Failure m_failed;
    HttpReply m_reply;
    quint64 m_answersWhenSent = 0;
    quint64 m_calls = 0; // tells a call from the one before it
    quint64 m_changes = 0;
    ClosingPeer m_peer;
    QElapsedTimer m_lastAnswer; // on the open connection
    QElapsedTimer m_answeredAt; // on any
};
