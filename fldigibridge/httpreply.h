// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// One HTTP/1.x response, read as its bytes arrive: the status line and headers, then a body
// framed by Content-Length, by the chunked transfer coding, or by the end of the connection.
// Headers and body are bounded, so a hostile server cannot make it grow without end.
class HttpReply
{
public:
    static constexpr qsizetype maxHead = 16 * 1024;
    static constexpr qsizetype maxBody = 1024 * 1024;

    enum class State { Incomplete, Complete, Failed };

    State feed(QByteArrayView bytes); // more bytes from the connection
    State finish();                   // the connection has closed
    State state() const { return m_state; }

    bool headRead() const { return m_phase != Phase::Head; }
    int status() const { return m_status; }
    QByteArray statusLine() const { return m_statusLine; }
    const QByteArray &body() const { return m_body; }
    bool keepAlive() const { return m_keepAlive; }
    bool excess() const { return m_excess; } // bytes beyond the end of the response
    QString error() const { return m_error; }

private:
    enum class Phase { Head, Sized, ChunkSize, ChunkData, ChunkEnd, Trailer, UntilClose, Done };

    State parse();
    bool parseHead(QByteArrayView head);
    bool takeLine(QByteArray &line, qsizetype limit);
    State fail(const QString &why);

    State m_state = State::Incomplete;
    Phase m_phase = Phase::Head;
    QByteArray m_in; // received and not yet consumed
    QByteArray m_body;
    QByteArray m_statusLine;
    qsizetype m_remaining = 0; // of the sized body or the current chunk
    qsizetype m_trailerBytes = 0;
    int m_status = 0;
    bool m_keepAlive = true;
    bool m_excess = false;
    QString m_error;
};
