// SPDX-License-Identifier: GPL-3.0-or-later
#include "sessionbus.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QThread>
#include <QUrl>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// Waits for the socket to be ready for events; false when the time is up.
bool ready(int fd, short events, const QDeadlineTimer &deadline)
{
    pollfd entry{fd, events, 0};
    int result;
    while ((result = poll(&entry, 1, int(deadline.remainingTime()))) < 0 && errno == EINTR)
        ;
    return result > 0;
}

// A connected unix socket for "unix:path=..." or "unix:abstract=...": the fd, -1 when there
// is nothing to connect to, -2 when the time ran out first.
int connectTo(const QString &address, const QDeadlineTimer &deadline)
{
    QHash<QString, QByteArray> keys;
    for (const QString &pair : address.section(u':', 1).split(u',', Qt::SkipEmptyParts))
        keys.insert(pair.section(u'=', 0, 0), QUrl::fromPercentEncoding(pair.section(u'=', 1).toUtf8()).toLocal8Bit());
    const bool abstract = keys.contains(QStringLiteral("abstract"));
    const QByteArray name = keys.value(abstract ? QStringLiteral("abstract") : QStringLiteral("path"));
    sockaddr_un peer{};
    peer.sun_family = AF_UNIX;
    if (!address.startsWith(u"unix:") || name.isEmpty() || size_t(name.size()) + 1 >= sizeof peer.sun_path)
        return -1;
    std::memcpy(peer.sun_path + (abstract ? 1 : 0), name.constData(), size_t(name.size()));
    const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + size_t(name.size()) + 1);

    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    for (;;) {
        if (connect(fd, reinterpret_cast<const sockaddr *>(&peer), length) == 0)
            return fd;
        if (errno != EAGAIN && errno != EINTR) { // EAGAIN: the daemon's backlog is full
            close(fd);
            return -1;
        }
        if (deadline.hasExpired()) {
            close(fd);
            return -2;
        }
        QThread::msleep(10);
    }
}

} // namespace

QString shutOutSilentSessionBus(int timeoutMs)
{
    QString addresses = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    if (addresses.isEmpty() && qEnvironmentVariableIsSet("XDG_RUNTIME_DIR"))
        addresses = QStringLiteral("unix:path=") + qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/bus");
    const QDeadlineTimer deadline(timeoutMs);
    for (const QString &address : addresses.split(u';', Qt::SkipEmptyParts)) {
        const int fd = connectTo(address, deadline);
        if (fd == -1)
            continue; // nothing there, or not a unix socket: Qt finds out quickly by itself
        bool answered = false;
        if (fd >= 0) {
            // A NUL byte, then the first line of the authentication; any line back is an answer.
            const QByteArray hello = QByteArray(1, '\0') + "AUTH EXTERNAL " + QByteArray::number(getuid()).toHex() + "\r\n";
            char reply[256];
            answered = send(fd, hello.constData(), size_t(hello.size()), MSG_NOSIGNAL) == hello.size()
                       && ready(fd, POLLIN, deadline) && recv(fd, reply, sizeof reply, 0) > 0;
            close(fd);
        }
        if (answered)
            return {};
        qputenv("DBUS_SESSION_BUS_ADDRESS", "none:"); // an address type no one knows: fails at once
        return QStringLiteral("the session bus at %1 did not answer within %2 ms").arg(address).arg(timeoutMs);
    }
    return {};
}
