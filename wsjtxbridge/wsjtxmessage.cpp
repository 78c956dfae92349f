// SPDX-License-Identifier: GPL-3.0-or-later
#include "wsjtxmessage.h"

#include <QDataStream>
#include <QIODevice>

namespace wsjtx {

namespace {

// A utf8 field: a QByteArray, null (0xffffffff) or not.
QString utf8(QDataStream &in)
{
    QByteArray bytes;
    in >> bytes;
    return QString::fromUtf8(bytes);
}

void writeUtf8(QDataStream &out, const QString &text)
{
    out << text.toUtf8();
}

// A datagram under way: the header written, the fields to follow.
struct Builder
{
    explicit Builder(Type type, const QString &id) : out(&bytes, QIODevice::WriteOnly)
    {
        out.setVersion(QDataStream::Qt_5_4);
        out << magic << schema << quint32(type);
        writeUtf8(out, id);
    }
    QByteArray bytes;
    QDataStream out;
};

} // namespace

std::optional<Message> read(const QByteArray &datagram, QString *why)
{
    auto refuse = [why](const char *reason) -> std::optional<Message> {
        if (why)
            *why = QString::fromLatin1(reason);
        return std::nullopt;
    };
    QDataStream in(datagram);
    in.setVersion(QDataStream::Qt_5_4);
    quint32 number = 0, version = 0;
    Message message;
    in >> number >> version >> message.type;
    if (in.status() != QDataStream::Ok || number != magic)
        return refuse("not a WSJT-X message");
    if (version < 2 || version > schema)
        return refuse("a schema this reader does not know");
    message.id = utf8(in);
    if (in.status() != QDataStream::Ok)
        return refuse("the Id is cut short");
    if (message.type != quint32(Type::Status))
        return message;

    Status s;
    QString dxCall, report, txMode, deCall, deGrid, dxGrid, subMode;
    bool decoding = false, watchdog = false;
    quint32 txDf = 0;
    in >> s.dialHz;
    s.mode = utf8(in);
    dxCall = utf8(in);
    report = utf8(in);
    txMode = utf8(in);
    in >> s.txEnabled >> s.transmitting >> decoding >> s.rxDf >> txDf;
    if (in.status() != QDataStream::Ok)
        return refuse("a Status cut short");
    // WSJT-X's own fields after these; a shorter Status ends before them.
    deCall = utf8(in);
    deGrid = utf8(in);
    dxGrid = utf8(in);
    in >> watchdog;
    subMode = utf8(in);
    bool fast = false;
    quint8 special = 0;
    quint32 tolerance = 0, period = noChange;
    in >> fast >> special >> tolerance >> period;
    if (in.status() == QDataStream::Ok) {
        s.fastMode = fast;
        s.trPeriod = period;
    }
    message.status = s;
    return message;
}

QByteArray replay(const QString &id)
{
    return Builder(Type::Replay, id).bytes;
}

QByteArray haltTx(const QString &id, bool autoOnly)
{
    Builder b(Type::HaltTx, id);
    b.out << autoOnly;
    return b.bytes;
}

QByteArray clear(const QString &id, quint8 window)
{
    Builder b(Type::Clear, id);
    b.out << window;
    return b.bytes;
}

QByteArray close(const QString &id)
{
    return Builder(Type::Close, id).bytes;
}

QByteArray unknown(const QString &id)
{
    return Builder(Type(99), id).bytes;
}

QByteArray configure(const QString &id, const QString &mode, quint32 rxDf, bool fastMode)
{
    Builder b(Type::Configure, id);
    writeUtf8(b.out, mode);
    b.out << noChange; // frequency tolerance
    writeUtf8(b.out, QString());                      // submode
    b.out << fastMode << noChange << rxDf; // fast, T/R period, Rx DF
    writeUtf8(b.out, QString());                      // DX call
    writeUtf8(b.out, QString());                      // DX grid
    b.out << false;                                    // generate messages
    return b.bytes;
}

} // namespace wsjtx
