// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMutex>
#include <QSemaphore>
#include <QThread>

#include <atomic>

// A TCP proxy on loopback, in a thread of its own, that delays everything it passes on by a
// set time in each direction, as a link with twice that round trip would, and counts the
// HTTP requests it passes to the server.
class DelayProxy : public QThread
{
public:
    explicit DelayProxy(quint16 target);
    ~DelayProxy() override;

    quint16 port() const { return m_port; }
    void setDelay(int ms) { m_delayMs = ms; } // each way
    int requests() const { return m_requests; }

protected:
    void run() override;

private:
    const quint16 m_target;
    quint16 m_port = 0;
    std::atomic<int> m_delayMs{0};
    std::atomic<int> m_requests{0};
    QSemaphore m_ready;
};
