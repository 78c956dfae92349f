// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "host.h"
#include "hostfailure.h"

#include <QList>
#include <QMap>
#include <QPair>
#include <QStringList>

#include <memory>

// What an in-process host holds and saw; the test keeps it while the panel owns the host.
struct FakeHostState
{
    QMap<QString, QVariant> values;
    QMap<QString, HostFailure> failures; // reads and calls by name that fail
    QStringList reads;
    QList<QPair<QString, QString>> calls;
    int attaches = 0;
    bool released = false;
};

class FakeHost final : public Host
{
public:
    explicit FakeHost(std::shared_ptr<FakeHostState> state) : m_state(std::move(state)) {}
    ~FakeHost() override { m_state->released = true; }

    QVariant read(const QString &name) override;
    void call(const QString &method, const QString &text) override;

private:
    std::shared_ptr<FakeHostState> m_state;
};

// A state with the values a freshly started host reports.
std::shared_ptr<FakeHostState> runningHost();
HostAttach attachTo(std::shared_ptr<FakeHostState> state);
HostAttach noHostRunning();
