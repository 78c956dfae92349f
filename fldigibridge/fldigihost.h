#pragma once

#include "xmlrpc.h"

#include <QObject>
#include <QQueue>
#include <QTextStream>
#include <QTimer>

struct MacroItem;

// The host's members carried out on fldigi. Reads go to fldigi at every read; macros are
// queued and carried out in order, so that a slow one (waiting for receive) holds up no reply.
class FldigiHost : public QObject
{
    Q_OBJECT

public:
    FldigiHost(const XmlRpcClient &fldigi, QTextStream &errors, QObject *parent = nullptr);

    // Each throws BridgeFailure.
    QVariant read(const QString &name) const;

    // Queues the macro's steps and returns at once.
    void executeMacros(const QString &macros);

    bool idle() const { return m_steps.isEmpty() && !m_running; }
    int rxPollMs = 100;
    int rxWaitMs = 15000;

    // The modem that fldigi's set_by_name is given for one of the panel's modes, or "" for none.
    static QString modemFor(const QString &mode);

signals:
    void becameIdle();

private:
    struct Step
    {
        QString tag;
        QString method;
        QVariantList params;
    };

    void queue(const MacroItem &item);
    void runNext();
    void waitForReceive(const QString &tag, int waitedMs);
    void fail(const QString &tag, const QString &why);
    QString readMode() const;

    const XmlRpcClient &m_fldigi;
    QTextStream &m_errors;
    QQueue<Step> m_steps;
    bool m_running = false;
};
