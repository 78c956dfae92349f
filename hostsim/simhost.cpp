#include "simhost.h"

#include "contract.h"
#include "macroparser.h"

#include <QDBusMessage>
#include <QTextStream>
#include <QVariantMap>

#include <cmath>

namespace {

// One macro text a line, whatever it holds.
QString oneLine(QString text)
{
    return text.replace(u'\\', QStringLiteral("\\\\"))
        .replace(u'\n', QStringLiteral("\\n"))
        .replace(u'\r', QStringLiteral("\\r"));
}

} // namespace

SimHost::SimHost(const QDBusConnection &bus, QTextStream &out, QTextStream &errors)
    : m_bus(bus), m_out(out), m_errors(errors)
{
}

void SimHost::ExecuteMacros(const QString &macros)
{
    m_out << oneLine(macros) << Qt::endl;
    for (const MacroItem &item : parseMacros(macros)) {
        if (item.kind == MacroItem::Kind::Text)
            m_txBuffer += item.text;
        else
            carryOut(item.keyword, item.hasArgument, item.argument);
    }
}

void SimHost::carryOut(const QString &keyword, bool hasArgument, const QString &argument)
{
    const QString tag = hasArgument ? QStringLiteral("<%1:%2>").arg(keyword, argument)
                                    : QStringLiteral("<%1>").arg(keyword);
    const bool takesArgument = keyword == u"AUDIOFQ" || keyword == u"ZFQ" || keyword == u"MODE";
    if (takesArgument != hasArgument)
        return ignore(tag, takesArgument ? QStringLiteral("it needs an argument")
                                         : QStringLiteral("it takes no argument"));

    if (keyword == u"AUDIOFQ") {
        bool ok = false;
        const int hz = argument.trimmed().toInt(&ok);
        if (!ok || hz < 0)
            return ignore(tag, QStringLiteral("the audio frequency is not a whole number of hertz"));
        if (hz != m_audioFq) {
            m_audioFq = hz;
            announce("AudioFq", m_audioFq);
        }
    } else if (keyword == u"ZFQ") {
        bool ok = false;
        const double khz = argument.trimmed().toDouble(&ok);
        if (!ok || !std::isfinite(khz) || khz < 0 || khz > 1e9)
            return ignore(tag, QStringLiteral("the rig frequency is not a number of kilohertz"));
        const double hz = std::round(khz * 1e6) / 1e3; // to the millihertz
        if (hz != m_fqA) {
            m_fqA = hz;
            announce("FqA", m_fqA);
        }
    } else if (keyword == u"MODE") {
        if (argument.trimmed().isEmpty())
            return ignore(tag, QStringLiteral("no mode is named"));
        if (argument != m_mode) {
            m_mode = argument;
            announce("Mode", m_mode);
        }
    } else if (keyword == u"TX") {
        m_transmitting = true;
    } else if (keyword == u"RXANDCLEAR") {
        m_transmitting = false;
        m_rxBuffer.clear();
    } else if (keyword == u"CLEARTXWINDOW") {
        m_txBuffer.clear();
    } else if (keyword == u"CLEARRXWINDOW") {
        m_rxBuffer.clear();
    } else {
        ignore(tag, QStringLiteral("unknown tag"));
    }
}

void SimHost::ignore(const QString &tag, const QString &why)
{
    m_errors << "palvo2-sim: ignored " << oneLine(tag) << ": " << why << Qt::endl;
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
