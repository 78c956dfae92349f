// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// WSJT-X's UDP messages, as its Network/NetworkMessage.hpp lays them out: a QDataStream,
// big-endian, of a magic number, a schema, a type and the sender's Id, then the fields. Only
// what a host program needs is read; a field added at the end by a later WSJT-X is passed over.
namespace wsjtx {

inline constexpr quint32 magic = 0xadbccbda;
inline constexpr quint32 schema = 3;            // QDataStream::Qt_5_4
inline constexpr quint32 noChange = 0xffffffff; // in a Configure's numbers

enum class Type : quint32 {
    Heartbeat = 0,
    Status = 1,
    Clear = 3,
    Close = 6,
    Replay = 7,
    HaltTx = 8,
    Configure = 15,
};

struct Status
{
    quint64 dialHz = 0;
    QString mode;
    bool txEnabled = false;
    bool transmitting = false;
    quint32 rxDf = 0;
    // Later fields, absent from a shorter Status (JTDX's).
    bool fastMode = false;
    quint32 trPeriod = noChange; // noChange in modes without one (FT8, FT4)

    bool operator==(const Status &) const = default;
};

// One datagram, read: its type and Id, and a Status's fields. Types a host program has no use
// for are read as far as the Id.
struct Message
{
    quint32 type = 0;
    QString id;
    std::optional<Status> status;
};

// The message in a datagram, or nothing, with why, when it is not one WSJT-X would send.
std::optional<Message> read(const QByteArray &datagram, QString *why = nullptr);

// Requests to the WSJT-X whose Id is given.
QByteArray replay(const QString &id);
QByteArray haltTx(const QString &id, bool autoOnly);
QByteArray clear(const QString &id, quint8 window); // 0 band activity, 1 Rx frequency, 2 both
QByteArray close(const QString &id);
// A well-formed message of a type WSJT-X does not know, which its protocol has it ignore
// silently. (A datagram without the magic brings up WSJT-X 2.6.1's "Network Error" dialog, and
// it takes no request until someone closes it.)
QByteArray unknown(const QString &id);
// Mode empty and rxDf noChange leave them as they are; the T/R period is always left as it is
// (each mode keeps its own). The Fast flag has no "no change": it is sent as given.
QByteArray configure(const QString &id, const QString &mode, quint32 rxDf, bool fastMode);

} // namespace wsjtx
