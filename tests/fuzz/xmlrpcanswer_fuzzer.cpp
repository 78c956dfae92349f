// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target: fldigi's answers as they come off the connection, HTTP framing and
// XML-RPC, a multicall's results too. Any bytes are read without a crash and within the
// bounds; fed a piece at a time they give exactly what they give whole.
#include "bridgefailure.h"
#include "httpreply.h"
#include "xmlrpc.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void broken(const char *what)
{
    fprintf(stderr, "xmlrpc answer: %s\n", what);
    abort();
}

int depth(const QVariant &value)
{
    int deepest = 0;
    if (value.metaType() == QMetaType::fromType<QVariantList>()) {
        for (const QVariant &item : value.toList())
            deepest = std::max(deepest, depth(item));
    } else if (value.metaType() == QMetaType::fromType<QVariantMap>()) {
        for (const QVariant &item : value.toMap())
            deepest = std::max(deepest, depth(item));
    }
    return deepest + 1;
}

// The value, or the failure's text.
QVariant outcome(QByteArrayView stream, qsizetype piece)
{
    HttpReply reply;
    for (qsizetype i = 0; i < stream.size() && reply.state() == HttpReply::State::Incomplete; i += piece)
        reply.feed(stream.sliced(i, std::min(piece, stream.size() - i)));
    if (reply.finish() != HttpReply::State::Complete)
        return reply.error();
    if (reply.body().size() > HttpReply::maxBody)
        broken("a body over the bound");
    try {
        const QVariant value = xmlrpc::answer(reply.body());
        if (depth(value) > xmlrpc::maxDepth)
            broken("a value nested deeper than the bound");
        for (auto type : {xmlrpc::Expect::Int, xmlrpc::Expect::Double, xmlrpc::Expect::String}) {
            try {
                xmlrpc::expect(value, type);
            } catch (const BridgeFailure &failure) {
                if (failure.cause != BridgeFailure::Cause::Malformed)
                    broken("a wrong type that is not called malformed");
            }
        }
        // As a multicall's answer: each result a value or a fault, never both or neither.
        try {
            const qsizetype count = value.toList().size();
            for (const xmlrpc::Result &result : xmlrpc::results(value, count)) {
                if (result.fault.has_value() == result.value.isValid())
                    broken("a multicall result that is both a value and a fault, or neither");
            }
        } catch (const BridgeFailure &failure) {
            if (failure.cause != BridgeFailure::Cause::Malformed)
                broken("a malformed multicall answer that is not called malformed");
        }
        return value;
    } catch (const BridgeFailure &failure) {
        if (failure.cause != BridgeFailure::Cause::Malformed && failure.cause != BridgeFailure::Cause::Fault)
            broken("an answer failing for a cause that is not in the answer");
        return failure.text;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The first byte sets the size of the pieces the rest arrives in.
    if (size == 0)
        return 0;
    const QByteArrayView stream(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    if (outcome(stream, stream.size() + 1) != outcome(stream, 1 + data[0] % 64))
        broken("pieces give another answer than the whole");
    return 0;
}
