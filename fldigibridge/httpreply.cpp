// SPDX-License-Identifier: GPL-3.0-or-later
#include "httpreply.h"

#include <QList>

#include <algorithm>

namespace {

bool allHex(QByteArrayView text)
{
    return std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    });
}

bool allDigits(QByteArrayView text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

const QString tooLarge = QStringLiteral("the answer is larger than 1 MiB");

} // namespace

HttpReply::State HttpReply::feed(QByteArrayView bytes)
{
    if (m_state != State::Incomplete) {
        m_excess = m_excess || !bytes.isEmpty();
        return m_state;
    }
    m_in.append(bytes);
    return parse();
}

HttpReply::State HttpReply::finish()
{
    if (m_state != State::Incomplete)
        return m_state;
    if (m_phase != Phase::UntilClose)
        return fail(QStringLiteral("the connection closed before the answer was complete"));
    m_keepAlive = false;
    m_phase = Phase::Done;
    return m_state = State::Complete;
}

HttpReply::State HttpReply::fail(const QString &why)
{
    m_error = why;
    m_in.clear();
    return m_state = State::Failed;
}

// Takes one CRLF-terminated line off the input; false while it is incomplete or on failure.
bool HttpReply::takeLine(QByteArray &line, qsizetype limit)
{
    const qsizetype end = m_in.indexOf("\r\n");
    if (end < 0 || end > limit) {
        if (end > limit || m_in.size() > limit + 1)
            fail(QStringLiteral("a line of the answer is too long"));
        return false;
    }
    line = m_in.first(end);
    m_in.remove(0, end + 2);
    return true;
}

HttpReply::State HttpReply::parse()
{
    for (;;) {
        switch (m_phase) {
        case Phase::Head: {
            const qsizetype end = m_in.indexOf("\r\n\r\n");
            if (end < 0 && m_in.size() <= maxHead)
                return m_state;
            if (end < 0 || end + 4 > maxHead)
                return fail(QStringLiteral("the answer's headers are longer than 16 KiB"));
            if (!parseHead(QByteArrayView(m_in).first(end)))
                return m_state;
            m_in.remove(0, end + 4);
            break;
        }
        case Phase::Sized:
        case Phase::ChunkData: {
            const qsizetype n = std::min(m_remaining, m_in.size());
            m_body.append(QByteArrayView(m_in).first(n));
            m_in.remove(0, n);
            m_remaining -= n;
            if (m_remaining > 0)
                return m_state;
            m_phase = m_phase == Phase::Sized ? Phase::Done : Phase::ChunkEnd;
            break;
        }
        case Phase::ChunkSize: {
            QByteArray line;
            if (!takeLine(line, 1024))
                return m_state;
            const qsizetype extension = line.indexOf(';');
            const QByteArray size = (extension < 0 ? line : line.first(extension)).trimmed();
            if (size.isEmpty() || size.size() > 8 || !allHex(size))
                return fail(QStringLiteral("a malformed chunk size"));
            m_remaining = size.toLongLong(nullptr, 16);
            if (m_remaining > maxBody - m_body.size())
                return fail(tooLarge);
            m_phase = m_remaining == 0 ? Phase::Trailer : Phase::ChunkData;
            break;
        }
        case Phase::ChunkEnd:
            if (m_in.size() < 2)
                return m_state;
            if (!m_in.startsWith("\r\n"))
                return fail(QStringLiteral("a chunk does not end where its size says"));
            m_in.remove(0, 2);
            m_phase = Phase::ChunkSize;
            break;
        case Phase::Trailer: {
            QByteArray line;
            if (!takeLine(line, maxHead))
                return m_state;
            m_trailerBytes += line.size() + 2;
            if (m_trailerBytes > maxHead)
                return fail(QStringLiteral("the answer's trailers are longer than 16 KiB"));
            if (line.isEmpty())
                m_phase = Phase::Done;
            break;
        }
        case Phase::UntilClose:
            if (m_body.size() + m_in.size() > maxBody)
                return fail(tooLarge);
            m_body.append(m_in);
            m_in.clear();
            return m_state;
        case Phase::Done:
            m_excess = !m_in.isEmpty();
            m_in.clear();
            return m_state = State::Complete;
        }
    }
}

bool HttpReply::parseHead(QByteArrayView head)
{
    const QList<QByteArray> lines = head.toByteArray().split('\n');
    m_statusLine = lines.first().chopped(lines.first().endsWith('\r') ? 1 : 0);
    const QByteArrayView status(m_statusLine);
    const bool http11 = status.startsWith("HTTP/1.1 ");
    if ((!http11 && !status.startsWith("HTTP/1.0 ")) || status.size() < 12 || !allDigits(status.sliced(9, 3))
        || (status.size() > 12 && status[12] != ' ')) {
        fail(QStringLiteral("not an HTTP answer"));
        return false;
    }
    m_status = status.sliced(9, 3).toInt();
    m_keepAlive = http11;

    qsizetype length = -1;
    bool chunked = false;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].endsWith('\r') ? lines[i].chopped(1) : lines[i];
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0 || line.startsWith(' ') || line.startsWith('\t')) {
            fail(QStringLiteral("a malformed header"));
            return false;
        }
        const QByteArray name = line.first(colon).toLower();
        const QByteArray value = line.sliced(colon + 1).trimmed().toLower();
        if (name == "content-length") {
            if (value.isEmpty() || value.size() > 9 || !allDigits(value)
                || (length >= 0 && length != value.toLongLong())) {
                fail(QStringLiteral("a malformed Content-Length"));
                return false;
            }
            length = value.toLongLong();
        } else if (name == "transfer-encoding") {
            if (value != "chunked") {
                fail(QStringLiteral("an unsupported transfer coding: %1").arg(QString::fromLatin1(value)));
                return false;
            }
            chunked = true;
        } else if (name == "connection") {
            for (const QByteArray &token : value.split(',')) {
                if (token.trimmed() == "close")
                    m_keepAlive = false;
                else if (token.trimmed() == "keep-alive")
                    m_keepAlive = true;
            }
        }
    }
    if (chunked && length >= 0) {
        fail(QStringLiteral("both a Content-Length and chunked coding"));
        return false;
    }
    if (length > maxBody) {
        fail(tooLarge);
        return false;
    }
    if (chunked) {
        m_phase = Phase::ChunkSize;
    } else if (length >= 0) {
        m_remaining = length;
        m_phase = Phase::Sized;
    } else {
        m_keepAlive = false;
        m_phase = Phase::UntilClose;
    }
    return true;
}
