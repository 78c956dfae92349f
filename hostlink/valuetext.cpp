#include "valuetext.h"

#include "hostfailure.h"

#include <QDBusObjectPath>
#include <QDBusSignature>
#include <QDBusVariant>

namespace {

QLocale ungrouped(QLocale locale)
{
    locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    return locale;
}

bool isNull(const QVariant &value)
{
    return value.metaType() == QMetaType::fromType<std::nullptr_t>();
}

// D-Bus may wrap a value in a variant once more.
QVariant unwrapped(QVariant value)
{
    while (value.metaType() == QMetaType::fromType<QDBusVariant>())
        value = qvariant_cast<QDBusVariant>(value).variant();
    return value;
}

[[noreturn]] void noTextForm(const QVariant &value)
{
    if (isNull(value))
        throw HostFailure{HostFailure::NoTextForm, QStringLiteral("The host returned a null value")};
    throw HostFailure{HostFailure::NoTextForm,
                      QStringLiteral("The host returned a value with no text form (%1)")
                          .arg(QString::fromLatin1(value.metaType().name()))};
}

} // namespace

QString numberText(double number, const QLocale &locale)
{
    if (number == 0)
        number = 0; // no "-0"
    return ungrouped(locale).toString(number, 'g', 15);
}

QString valueText(const QVariant &hostValue, const QLocale &locale)
{
    const QVariant value = unwrapped(hostValue);
    if (!value.isValid())
        return {};
    switch (value.metaType().id()) {
    case QMetaType::QString:
        return value.toString();
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::Short:
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
        return ungrouped(locale).toString(value.toLongLong());
    case QMetaType::UShort:
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        return ungrouped(locale).toString(value.toULongLong());
    case QMetaType::Float:
    case QMetaType::Double:
        return numberText(value.toDouble(), locale);
    default:
        break;
    }
    if (value.metaType() == QMetaType::fromType<QDBusObjectPath>())
        return qvariant_cast<QDBusObjectPath>(value).path();
    if (value.metaType() == QMetaType::fromType<QDBusSignature>())
        return qvariant_cast<QDBusSignature>(value).signature();
    noTextForm(value);
}

double valueNumber(const QVariant &hostValue, const QLocale &locale)
{
    const QVariant value = unwrapped(hostValue);
    if (!value.isValid())
        return 0;
    switch (value.metaType().id()) {
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::Short:
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::UShort:
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::Float:
    case QMetaType::Double:
        return value.toDouble();
    case QMetaType::QString: {
        const QString text = value.toString().trimmed();
        bool ok = false;
        double number = locale.toDouble(text, &ok);
        if (!ok)
            number = QLocale::c().toDouble(text, &ok);
        if (ok)
            return number;
        throw HostFailure{HostFailure::NotANumber,
                          QStringLiteral("The host returned \"%1\" where a number was expected")
                              .arg(value.toString())};
    }
    default:
        break;
    }
    if (isNull(value))
        noTextForm(value);
    throw HostFailure{HostFailure::NotANumber,
                      QStringLiteral("The host returned a %1 where a number was expected")
                          .arg(QString::fromLatin1(value.metaType().name()))};
}
