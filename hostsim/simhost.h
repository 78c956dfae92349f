// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QString>

class QTextStream;
struct MacroStep;

// The stand-in host: an audio frequency, a rig frequency and a mode that macros change, the
// mode one of the panel's. Its D-Bus adaptor is generated from Palvo2.Application.xml.
class SimHost : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_PROPERTY(int AudioFq READ audioFq)
    Q_PROPERTY(double FqA READ fqA)
    Q_PROPERTY(QString Mode READ mode)
    Q_PROPERTY(bool Transmitting READ transmitting)
    Q_PROPERTY(QStringList Modes READ modes)

public:
    // out receives each macro text, a line each; errors receives what was ignored or refused, and why.
    SimHost(const QDBusConnection &bus, QTextStream &out, QTextStream &errors);

    int audioFq() const { return m_audioFq; }
    double fqA() const { return m_fqA; }
    QString mode() const { return m_mode; }
    bool transmitting() const { return m_transmitting; }
    static QStringList modes(); // the panel's
    QString txBuffer() const { return m_txBuffer; } // the transmit text, sent or not
    QString rxBuffer() const { return m_rxBuffer; } // the receive text: what was sent, echoed

public slots:
    void ExecuteMacros(const QString &macros);

private:
    void carryOut(const MacroStep &step);
    void sendPending();
    void announce(const char *property, const QVariant &value);

    QDBusConnection m_bus;
    QTextStream &m_out;
    QTextStream &m_errors;
    int m_audioFq = 1000;
    double m_fqA = 14100000;
    QString m_mode = QStringLiteral("BPSK31");
    bool m_transmitting = false;
    QString m_txBuffer;
    qsizetype m_sent = 0; // how much of m_txBuffer has gone out
    QString m_rxBuffer;
};
