// SPDX-License-Identifier: GPL-3.0-or-later
#include "fakehost.h"

QVariant FakeHost::read(const QString &name)
{
    m_state->reads.append(name);
    if (m_state->failures.contains(name))
        throw m_state->failures.value(name);
    if (!m_state->values.contains(name))
        throw HostFailure{21, QStringLiteral("Unknown property ") + name};
    return m_state->values.value(name);
}

void FakeHost::call(const QString &method, const QString &text)
{
    m_state->calls.append({method, text});
    if (m_state->failures.contains(method))
        throw m_state->failures.value(method);
}

std::shared_ptr<FakeHostState> runningHost()
{
    auto state = std::make_shared<FakeHostState>();
    state->values = {{QStringLiteral("AudioFq"), 1000},
                     {QStringLiteral("FqA"), 14100000.0},
                     {QStringLiteral("Mode"), QStringLiteral("BPSK31")}};
    return state;
}

HostAttach attachTo(std::shared_ptr<FakeHostState> state)
{
    return [state]() -> std::unique_ptr<Host> {
        ++state->attaches;
        return std::make_unique<FakeHost>(state);
    };
}

HostAttach noHostRunning()
{
    return []() -> std::unique_ptr<Host> {
        throw HostFailure{HostFailure::NoHost, QStringLiteral("No host runs")};
    };
}
