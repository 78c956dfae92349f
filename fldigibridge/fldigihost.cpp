#include "fldigihost.h"

#include "macroparser.h"

#include <cmath>

namespace {

// Special steps that are not plain XML-RPC calls.
const QString setRigModeForSsb = QStringLiteral("*rig.set_mode for SSB");
const QString awaitReceive = QStringLiteral("*await receive");

} // namespace

FldigiHost::FldigiHost(const XmlRpcClient &fldigi, QTextStream &errors, QObject *parent)
    : QObject(parent), m_fldigi(fldigi), m_errors(errors)
{
}

QString FldigiHost::modemFor(const QString &mode)
{
    static const QHash<QString, QString> modems = {
        {"CW", "CW"},         {"BPSK31", "BPSK31"}, {"QPSK31", "QPSK31"}, {"RTTY", "RTTY"},
        {"MFSK", "MFSK16"},   {"THROB", "THROB1"},  {"MT63", "MT63-1KL"}, {"HELL", "FELDHELL"},
        {"FAX", "WEFAX576"},  {"AMTOR", "SITORB"},  {"SSB", "SSB"},       {"AM", "SSB"},
        {"FM", "SSB"},
    };
    return modems.value(mode);
}

QVariant FldigiHost::read(const QString &name) const
{
    if (name == u"AudioFq")
        return m_fldigi.call(QStringLiteral("modem.get_carrier"));
    if (name == u"FqA")
        return m_fldigi.call(QStringLiteral("rig.get_frequency"));
    if (name == u"Mode")
        return readMode();
    throw BridgeFailure{QStringLiteral("No such property: %1").arg(name)};
}

QString FldigiHost::readMode() const
{
    const QString modem = m_fldigi.call(QStringLiteral("modem.get_name")).toString();
    if (modem != u"SSB" && modem != u"NULL")
        return modem;
    const QString rigMode = m_fldigi.call(QStringLiteral("rig.get_mode")).toString();
    if (rigMode == u"USB" || rigMode == u"LSB")
        return QStringLiteral("SSB");
    return rigMode;
}

void FldigiHost::executeMacros(const QString &macros)
{
    for (const MacroItem &item : parseMacros(macros))
        queue(item);
    if (!m_running && !m_steps.isEmpty()) {
        m_running = true;
        QTimer::singleShot(0, this, &FldigiHost::runNext);
    }
}

void FldigiHost::queue(const MacroItem &item)
{
    if (item.kind == MacroItem::Kind::Text) {
        m_steps.append({item.text, QStringLiteral("text.add_tx"), {item.text}});
        return;
    }
    const QString tag = item.hasArgument ? QStringLiteral("<%1:%2>").arg(item.keyword, item.argument)
                                         : QStringLiteral("<%1>").arg(item.keyword);
    const QString &k = item.keyword;
    const QString arg = item.argument.trimmed();
    const bool takesArgument = k == u"AUDIOFQ" || k == u"ZFQ" || k == u"MODE";
    if (takesArgument != item.hasArgument)
        return fail(tag, takesArgument ? QStringLiteral("it needs an argument")
                                       : QStringLiteral("it takes no argument"));
    bool ok = false;
    if (k == u"AUDIOFQ") {
        const int hz = arg.toInt(&ok); // fldigi takes an int and clamps it itself
        if (!ok)
            return fail(tag, QStringLiteral("the audio frequency is not a whole number of hertz"));
        m_steps.append({tag, QStringLiteral("modem.set_carrier"), {hz}});
    } else if (k == u"ZFQ") {
        const double khz = arg.toDouble(&ok);
        if (!ok || !std::isfinite(khz) || khz < 0)
            return fail(tag, QStringLiteral("the rig frequency is not a number of kilohertz"));
        m_steps.append({tag, QStringLiteral("rig.set_frequency"), {khz * 1000.0}});
    } else if (k == u"MODE") {
        const QString modem = modemFor(item.argument);
        if (modem.isEmpty())
            return fail(tag, QStringLiteral("fldigi has no such mode"));
        m_steps.append({tag, QStringLiteral("modem.set_by_name"), {modem}});
        if (item.argument == u"SSB")
            m_steps.append({tag, setRigModeForSsb, {}});
        else if (item.argument == u"AM" || item.argument == u"FM")
            m_steps.append({tag, QStringLiteral("rig.set_mode"), {item.argument}});
    } else if (k == u"TX") {
        m_steps.append({tag, QStringLiteral("main.tx"), {}});
    } else if (k == u"RXANDCLEAR") {
        m_steps.append({tag, QStringLiteral("main.rx"), {}});
        m_steps.append({tag, awaitReceive, {}});
        m_steps.append({tag, QStringLiteral("text.clear_rx"), {}});
    } else if (k == u"CLEARTXWINDOW") {
        m_steps.append({tag, QStringLiteral("text.clear_tx"), {}});
    } else if (k == u"CLEARRXWINDOW") {
        m_steps.append({tag, QStringLiteral("text.clear_rx"), {}});
    } else {
        fail(tag, QStringLiteral("unknown tag"));
    }
}

void FldigiHost::runNext()
{
    if (m_steps.isEmpty()) {
        m_running = false;
        emit becameIdle();
        return;
    }
    const Step step = m_steps.dequeue();
    if (step.method == awaitReceive)
        return waitForReceive(step.tag, 0);
    try {
        if (step.method == setRigModeForSsb) {
            const double hz = m_fldigi.call(QStringLiteral("rig.get_frequency")).toDouble();
            m_fldigi.call(QStringLiteral("rig.set_mode"), {hz < 10e6 ? QStringLiteral("LSB")
                                                                     : QStringLiteral("USB")});
        } else {
            const QVariant answer = m_fldigi.call(step.method, step.params);
            if (step.method == u"modem.set_by_name" && answer.toString() == u"No such modem")
                fail(step.tag, QStringLiteral("fldigi has no modem %1").arg(step.params.value(0).toString()));
        }
    } catch (const BridgeFailure &failure) {
        fail(step.tag, failure.text);
    }
    QTimer::singleShot(0, this, &FldigiHost::runNext);
}

// fldigi finishes the character it is sending before it goes back to receive.
void FldigiHost::waitForReceive(const QString &tag, int waitedMs)
{
    QString state;
    try {
        state = m_fldigi.call(QStringLiteral("main.get_trx_state")).toString();
    } catch (const BridgeFailure &failure) {
        fail(tag, failure.text);
        return runNext();
    }
    if (state == u"RX")
        return runNext();
    if (waitedMs >= rxWaitMs) {
        fail(tag, QStringLiteral("fldigi did not go back to receive"));
        return runNext();
    }
    QTimer::singleShot(rxPollMs, this, [this, tag, waitedMs] { waitForReceive(tag, waitedMs + rxPollMs); });
}

void FldigiHost::fail(const QString &tag, const QString &why)
{
    m_errors << "palvo2-fldigi: " << tag << ": " << why << Qt::endl;
}
