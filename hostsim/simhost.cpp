// SPDX-License-Identifier: GPL-3.0-or-later
#include "simhost.h"

#include "contract.h"
#include "macrosteps.h"

#include <QDBusMessage>
#include <QTextStream>
#include <QVariantMap>

SimHost::SimHost(const QDBusConnection &bus, QTextStream &out, QTextStream &errors)
    : m_bus(bus), m_out(out), m_errors(errors)
{
}

void SimHost::ExecuteMacros(const QString &macros)
{
    m_out << oneLine(macros) << Qt::endl;
    const MacroPlan plan = planMacros(macros);
    for (const IgnoredTag &ignored : plan.ignored)
        m_errors << "palvo2-sim: " << ignored.message() << Qt::endl;
    // A mode it has not fails the call before any step is carried out, as a host program's would.
    for (const MacroStep &step : plan.steps) {
        if (step.action != MacroStep::Action::Mode)
            continue;
        if (const QString why = modeRefusal(QStringLiteral("palvo2-sim"), step.text, modes()); !why.isEmpty()) {
            const QString failure = step.source + QStringLiteral(": ") + why;
            m_errors << "palvo2-sim: " << oneLine(failure) << Qt::endl;
            if (calledFromDBus())
                sendErrorReply(QString::fromLatin1(contract::refusedError), failure);
            return;
        }
    }
    const bool transmitted = m_transmitting;
    for (const MacroStep &step : plan.steps)
        carryOut(step);
    if (m_transmitting != transmitted)
        announce(contract::transmitting, m_transmitting);
}

QStringList SimHost::modes()
{
    return {std::begin(contract::modes), std::end(contract::modes)};
}

// Sending takes no time here: while transmitting, text goes out as it arrives and is echoed
// in the receive text, as a real host shows what it sent.
void SimHost::carryOut(const MacroStep &step)
{
    using Action = MacroStep::Action;
    switch (step.action) {
    case Action::Text:
        m_txBuffer += step.text;
        break;
    case Action::AudioFq:
        if (int(step.hz) != m_audioFq) {
            m_audioFq = int(step.hz);
            announce(contract::audioFq, m_audioFq);
        }
        break;
    case Action::RigFq:
        if (step.hz != m_fqA) {
            m_fqA = step.hz;
            announce(contract::fqA, m_fqA);
        }
        break;
    case Action::Mode:
        if (step.text != m_mode) {
            m_mode = step.text;
            announce(contract::mode, m_mode);
        }
        break;
    case Action::Transmit:
        m_transmitting = true;
        break;
    case Action::Receive:
        sendPending();
        m_transmitting = false;
        break;
    case Action::ReceiveNow:
        m_transmitting = false;
        m_txBuffer.truncate(m_sent);
        break;
    case Action::ClearTx:
        m_txBuffer.clear();
        m_sent = 0;
        break;
    case Action::ClearRx:
        m_rxBuffer.clear();
        break;
    }
    if (m_transmitting)
        sendPending();
}

void SimHost::sendPending()
{
    m_rxBuffer += m_txBuffer.mid(m_sent);
    m_sent = m_txBuffer.size();
}

void SimHost::announce(const char *property, const QVariant &value)
{
    auto signal = QDBusMessage::createSignal(QString::fromLatin1(contract::objectPath),
                                             QStringLiteral("org.freedesktop.DBus.Properties"),
                                             QStringLiteral("PropertiesChanged"));
    signal << QString::fromLatin1(contract::interfaceName)
           << QVariantMap{{QString::fromLatin1(property), value}} << QStringList();
    m_bus.send(signal);
}
