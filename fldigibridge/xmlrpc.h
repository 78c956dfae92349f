// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "bridgefailure.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariant>

#include <optional>

// The little of XML-RPC that fldigi's interface needs, apart from the transport so that the
// tests and the fuzzer reach it directly.
namespace xmlrpc {

// fldigi answers scalars, arrays of scalars and the fault struct, and a multicall an array of
// those: values nest three deep at most.
inline constexpr int maxDepth = 4;

// A methodCall. Parameters are int, double, bool, text, arrays (QVariantList) and structs
// (QVariantMap); characters XML cannot carry are left out.
QByteArray request(const QString &method, const QVariantList &params);

// A method that only reads fldigi's state, so that a request of it may be sent again.
bool resendable(const QString &method);

// Several methods in one request, carried out in order (system.multicall).
struct Call
{
    QString method;
    QVariantList params = {};
};
QByteArray multicall(const QList<Call> &calls);

// What one method of a multicall got: its value, or the fault it alone met.
struct Result
{
    QVariant value;
    std::optional<BridgeFailure> fault;
};
// The results of a multicall of count methods, from the multicall's answer. Throws a Malformed
// BridgeFailure when the answer is not one result for each.
QList<Result> results(const QVariant &answer, qsizetype count);

// The value of a methodResponse: int (i4, int), qint64 (i8), double, bool, QString (string,
// untyped, dateTime.iso8601), QByteArray (base64), QVariantList (array), QVariantMap (struct).
// Throws BridgeFailure: Fault with fldigi's fault text, or Malformed saying what is wrong.
QVariant answer(const QByteArray &body);

enum class Expect { Anything, Int, Double, String };

// The answer when it has the expected type; throws a Malformed BridgeFailure when not.
QVariant expect(const QVariant &answer, Expect type);

} // namespace xmlrpc
