// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

// The little of XML-RPC that fldigi's interface needs, apart from the transport so that the
// tests and the fuzzer reach it directly.
namespace xmlrpc {

// fldigi answers scalars, arrays of scalars and the fault struct: values nest two deep at most.
inline constexpr int maxDepth = 4;

// A methodCall. Parameters are int, double, bool or text; characters XML cannot carry are left out.
QByteArray request(const QString &method, const QVariantList &params);

// The value of a methodResponse: int (i4, int), qint64 (i8), double, bool, QString (string,
// untyped, dateTime.iso8601), QByteArray (base64), QVariantList (array), QVariantMap (struct).
// Throws BridgeFailure: Fault with fldigi's fault text, or Malformed saying what is wrong.
QVariant answer(const QByteArray &body);

enum class Expect { Anything, Int, Double, String };

// The answer when it has the expected type; throws a Malformed BridgeFailure when not.
QVariant expect(const QVariant &answer, Expect type);

} // namespace xmlrpc
