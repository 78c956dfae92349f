// SPDX-License-Identifier: GPL-3.0-or-later
#include "xmlrpc.h"

#include "bridgefailure.h"

#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <cmath>

namespace xmlrpc {

namespace {

[[noreturn]] void malformed(const QString &why)
{
    throw BridgeFailure{BridgeFailure::Cause::Malformed, why};
}

// XML 1.0 has no way to write most control characters, lone surrogates, U+FFFE and U+FFFF.
QString xmlSafe(const QString &text)
{
    QString safe;
    safe.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            safe.append(c);
            safe.append(text[++i]);
        } else if ((c >= u'\x20' || c == u'\t' || c == u'\n' || c == u'\r') && !c.isSurrogate()
                   && c != QChar(0xFFFE) && c != QChar(0xFFFF)) {
            safe.append(c);
        }
    }
    return safe;
}

QString typeName(const QVariant &value)
{
    switch (value.metaType().id()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
        return QStringLiteral("an integer");
    case QMetaType::Double:
        return QStringLiteral("a double");
    case QMetaType::Bool:
        return QStringLiteral("a boolean");
    case QMetaType::QString:
        return QStringLiteral("a string");
    case QMetaType::QByteArray:
        return QStringLiteral("base64 data");
    case QMetaType::QVariantList:
        return QStringLiteral("an array");
    default:
        return QStringLiteral("a struct");
    }
}

class Reader
{
public:
    explicit Reader(const QByteArray &body) : m_xml(body) {}

    // The next element boundary; whitespace, comments and processing instructions pass.
    QXmlStreamReader::TokenType next()
    {
        for (;;) {
            switch (m_xml.readNext()) {
            case QXmlStreamReader::StartElement:
            case QXmlStreamReader::EndElement:
                return m_xml.tokenType();
            case QXmlStreamReader::Characters:
                if (m_xml.isWhitespace())
                    continue;
                malformed(QStringLiteral("text where an element belongs"));
            case QXmlStreamReader::StartDocument:
            case QXmlStreamReader::Comment:
            case QXmlStreamReader::ProcessingInstruction:
                continue;
            default:
                check();
                malformed(QStringLiteral("a document type or entity, or an early end"));
            }
        }
    }

    bool at(QStringView name) const { return m_xml.name() == name; }

    void start(QStringView name)
    {
        if (next() != QXmlStreamReader::StartElement || m_xml.name() != name)
            malformed(QStringLiteral("<%1> expected").arg(name));
    }

    void end(QStringView name)
    {
        if (next() != QXmlStreamReader::EndElement || m_xml.name() != name)
            malformed(QStringLiteral("</%1> expected").arg(name));
    }

    // After <value>: reads the value and its </value>.
    QVariant value(int depth)
    {
        if (depth > maxDepth)
            malformed(QStringLiteral("values nested deeper than fldigi answers"));
        QString untyped;
        for (;;) {
            switch (m_xml.readNext()) {
            case QXmlStreamReader::Characters:
                untyped += m_xml.text();
                continue;
            case QXmlStreamReader::Comment:
            case QXmlStreamReader::ProcessingInstruction:
                continue;
            case QXmlStreamReader::EndElement:
                return untyped;
            case QXmlStreamReader::StartElement: {
                if (!untyped.trimmed().isEmpty())
                    malformed(QStringLiteral("text beside a typed value"));
                const QVariant typed = typedValue(depth);
                end(u"value");
                return typed;
            }
            default:
                check();
                malformed(QStringLiteral("a value ends early"));
            }
        }
    }

    // After the last element: only whitespace and comments may follow.
    void finish()
    {
        while (m_xml.readNext() != QXmlStreamReader::EndDocument) {
            check();
            if (!m_xml.isWhitespace() && !m_xml.isComment())
                malformed(QStringLiteral("content after the answer"));
        }
    }

private:
    void check()
    {
        if (m_xml.hasError())
            malformed(m_xml.errorString());
    }

    // Either the end of the container or the start of its next item.
    bool closes(QStringView container, QStringView item)
    {
        const auto token = next();
        if (token == QXmlStreamReader::EndElement && at(container))
            return true;
        if (token != QXmlStreamReader::StartElement || !at(item))
            malformed(QStringLiteral("<%1> expected in <%2>").arg(item, container));
        return false;
    }

    QString scalarText()
    {
        const QString text = m_xml.readElementText(QXmlStreamReader::ErrorOnUnexpectedElement);
        check();
        return text;
    }

    QVariant typedValue(int depth)
    {
        const QString type = m_xml.name().toString();
        bool ok = true;
        QVariant result;
        if (type == u"i4" || type == u"int") {
            result = scalarText().trimmed().toInt(&ok);
        } else if (type == u"i8") {
            result = scalarText().trimmed().toLongLong(&ok);
        } else if (type == u"double") {
            const double number = scalarText().trimmed().toDouble(&ok);
            ok = ok && std::isfinite(number);
            result = number;
        } else if (type == u"boolean") {
            const QString text = scalarText().trimmed();
            ok = text == u"0" || text == u"1" || text == u"false" || text == u"true";
            result = text == u"1" || text == u"true";
        } else if (type == u"string" || type == u"dateTime.iso8601") {
            result = scalarText();
        } else if (type == u"base64") {
            const QString text = scalarText().simplified().remove(u' ');
            auto decoded = QByteArray::fromBase64Encoding(text.toLatin1(),
                                                          QByteArray::AbortOnBase64DecodingErrors);
            ok = decoded && QString::fromLatin1(text.toLatin1()) == text;
            result = *decoded;
        } else if (type == u"array") {
            QVariantList items;
            start(u"data");
            while (!closes(u"data", u"value"))
                items.append(value(depth + 1));
            end(u"array");
            result = items;
        } else if (type == u"struct") {
            QVariantMap members;
            while (!closes(u"struct", u"member")) {
                start(u"name");
                const QString name = scalarText();
                start(u"value");
                members.insert(name, value(depth + 1));
                end(u"member");
            }
            result = members;
        } else {
            malformed(QStringLiteral("an unknown type <%1>").arg(type));
        }
        if (!ok)
            malformed(QStringLiteral("a malformed <%1>").arg(type));
        return result;
    }

    QXmlStreamReader m_xml;
};

// <value>...</value>
void writeValue(QXmlStreamWriter &xml, const QVariant &value)
{
    xml.writeStartElement(QStringLiteral("value"));
    switch (value.metaType().id()) {
    case QMetaType::Int:
        xml.writeTextElement(QStringLiteral("int"), QString::number(value.toInt()));
        break;
    case QMetaType::Double:
        xml.writeTextElement(QStringLiteral("double"), QString::number(value.toDouble(), 'f', 6));
        break;
    case QMetaType::Bool:
        xml.writeTextElement(QStringLiteral("boolean"), value.toBool() ? "1" : "0");
        break;
    case QMetaType::QVariantList:
        xml.writeStartElement(QStringLiteral("array"));
        xml.writeStartElement(QStringLiteral("data"));
        for (const QVariant &item : value.toList())
            writeValue(xml, item);
        xml.writeEndElement();
        xml.writeEndElement();
        break;
    case QMetaType::QVariantMap: {
        xml.writeStartElement(QStringLiteral("struct"));
        const QVariantMap members = value.toMap();
        for (auto it = members.cbegin(); it != members.cend(); ++it) {
            xml.writeStartElement(QStringLiteral("member"));
            xml.writeTextElement(QStringLiteral("name"), xmlSafe(it.key()));
            writeValue(xml, it.value());
            xml.writeEndElement();
        }
        xml.writeEndElement();
        break;
    }
    default:
        xml.writeTextElement(QStringLiteral("string"), xmlSafe(value.toString()));
        break;
    }
    xml.writeEndElement();
}

} // namespace

QByteArray request(const QString &method, const QVariantList &params)
{
    QByteArray body;
    QXmlStreamWriter xml(&body);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("methodCall"));
    xml.writeTextElement(QStringLiteral("methodName"), method);
    xml.writeStartElement(QStringLiteral("params"));
    for (const QVariant &param : params) {
        xml.writeStartElement(QStringLiteral("param"));
        writeValue(xml, param);
        xml.writeEndElement();
    }
    xml.writeEndDocument();
    return body;
}

bool resendable(const QString &method)
{
    // Named one by one: not every get_ only reads (rx.get_data and tx.get_data hand out what
    // came since the last such call, and a second one gets something else).
    static const QStringList reads = {
        QStringLiteral("modem.get_carrier"), QStringLiteral("rig.get_frequency"),  QStringLiteral("modem.get_name"),
        QStringLiteral("rig.get_mode"),      QStringLiteral("main.get_trx_state"), QStringLiteral("main.get_frequency"),
    };
    return reads.contains(method);
}

QByteArray multicall(const QList<Call> &calls)
{
    QVariantList entries;
    for (const Call &call : calls)
        entries.append(QVariantMap{{QStringLiteral("methodName"), call.method}, {QStringLiteral("params"), call.params}});
    return request(QStringLiteral("system.multicall"), QVariantList{QVariant(entries)}); // one parameter: the array
}

QList<Result> results(const QVariant &answer, qsizetype count)
{
    if (answer.metaType() != QMetaType::fromType<QVariantList>())
        malformed(QStringLiteral("an array of results was expected, not %1").arg(typeName(answer)));
    const QVariantList entries = answer.toList();
    if (entries.size() != count)
        malformed(QStringLiteral("%1 results were expected, not %2").arg(count).arg(entries.size()));
    QList<Result> results;
    for (const QVariant &entry : entries) {
        if (entry.metaType() == QMetaType::fromType<QVariantList>() && entry.toList().size() == 1) {
            results.append({entry.toList().constFirst(), std::nullopt});
            continue;
        }
        const QVariant text = entry.toMap().value(QStringLiteral("faultString"));
        if (entry.metaType() != QMetaType::fromType<QVariantMap>() || text.metaType() != QMetaType::fromType<QString>())
            malformed(QStringLiteral("a result is neither one value nor a fault, but %1").arg(typeName(entry)));
        results.append({{}, BridgeFailure{BridgeFailure::Cause::Fault, text.toString()}});
    }
    return results;
}

QVariant answer(const QByteArray &body)
{
    Reader reader(body);
    reader.start(u"methodResponse");
    if (reader.next() != QXmlStreamReader::StartElement || !(reader.at(u"params") || reader.at(u"fault")))
        malformed(QStringLiteral("<params> or <fault> expected"));
    const bool fault = reader.at(u"fault");
    if (!fault)
        reader.start(u"param");
    reader.start(u"value");
    const QVariant value = reader.value(1);
    if (!fault)
        reader.end(u"param");
    reader.end(fault ? u"fault" : u"params");
    reader.end(u"methodResponse");
    reader.finish();
    if (!fault)
        return value;
    const QVariant text = value.toMap().value(QStringLiteral("faultString"));
    if (text.metaType() != QMetaType::fromType<QString>())
        malformed(QStringLiteral("a fault without a faultString"));
    throw BridgeFailure{BridgeFailure::Cause::Fault, text.toString()};
}

QVariant expect(const QVariant &answer, Expect type)
{
    static const QMetaType wanted[] = {QMetaType(), QMetaType::fromType<int>(), QMetaType::fromType<double>(),
                                       QMetaType::fromType<QString>()};
    const QMetaType expected = wanted[int(type)];
    if (type != Expect::Anything && answer.metaType() != expected)
        malformed(QStringLiteral("%1 was expected, not %2").arg(typeName(QVariant(expected)), typeName(answer)));
    return answer;
}

} // namespace xmlrpc
