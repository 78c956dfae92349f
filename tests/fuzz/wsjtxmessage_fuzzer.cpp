// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target: WSJT-X's datagrams as they come off the socket. Any bytes are read without
// a crash, within bounded memory; only a datagram with WSJT-X's magic is a message, and reading
// it again gives the same.
#include "wsjtxmessage.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void broken(const char *what)
{
    fprintf(stderr, "wsjtx message: %s\n", what);
    abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray datagram(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto message = wsjtx::read(datagram);
    if (!message)
        return 0;
    if (size < 16 || quint8(datagram[0]) != 0xad || quint8(datagram[3]) != 0xda)
        broken("a message without the magic");
    const auto again = wsjtx::read(datagram);
    if (!again || again->id != message->id || again->type != message->type || again->status != message->status)
        broken("read twice, read differently");
    if (message->status && message->type != quint32(wsjtx::Type::Status))
        broken("a Status read from another type");
    return 0;
}
