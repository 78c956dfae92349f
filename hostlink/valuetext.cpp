// SPDX-License-Identifier: GPL-3.0-or-later
#include "valuetext.h"

#include "hostfailure.h"

#include <QDBusVariant>

#include <cmath>

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

bool readsBack(const QString &text, const QLocale &locale)
{
    bool ok = false;
    locale.toDouble(text, &ok);
    return ok;
}

// Before a minus sign or an exponent's sign Qt puts bidi marks that its own reading does not take.
QString withoutBidiMarks(QString text)
{
    return text.remove(QChar(0x061C)).remove(QChar(0x200E)).remove(QChar(0x200F));
}

// C's digits as the locale's own.
QString localDigits(const QString &text, const QLocale &locale)
{
    const QList<uint> zero = locale.zeroDigit().toUcs4();
    if (zero.size() != 1 || zero[0] == u'0')
        return text;
    QString local;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9') {
            local += c;
            continue;
        }
        const char32_t digit = char32_t(zero[0] + (c.unicode() - u'0'));
        local += QString::fromUcs4(&digit, 1);
    }
    return local;
}

// Qt writes some numbers in forms it cannot read back in the same locale: an exponent as
// "1,5×10^−07", a minus sign behind a bidi mark in Arabic. Such a number is written without
// the marks, or else as in C (plain) with the locale's decimal point and digits, so that every
// number in a locale shows in one digit system.
QString readable(const QString &text, const QString &plain, const QLocale &locale)
{
    if (readsBack(text, locale))
        return text;
    if (const QString unmarked = withoutBidiMarks(text); readsBack(unmarked, locale))
        return unmarked;
    QString withPoint = plain;
    withPoint.replace(u'.', locale.decimalPoint());
    if (const QString local = localDigits(withPoint, locale); readsBack(local, locale))
        return local;
    return readsBack(withPoint, locale) ? withPoint : plain;
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
    // 15 digits would round the very largest doubles up past the largest there is, to a text
    // that reads as no number; those get the fewest digits that read back.
    const bool nearLargest = std::isfinite(number) && std::abs(number) > 1.79769313486231e308;
    const int precision = nearLargest ? QLocale::FloatingPointShortest : 15;
    return readable(ungrouped(locale).toString(number, 'g', precision),
                    QLocale::c().toString(number, 'g', precision), locale);
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
        return readable(ungrouped(locale).toString(value.toLongLong()),
                        QString::number(value.toLongLong()), locale);
    case QMetaType::UShort:
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        return readable(ungrouped(locale).toString(value.toULongLong()),
                        QString::number(value.toULongLong()), locale);
    case QMetaType::Float:
    case QMetaType::Double:
        return numberText(value.toDouble(), locale);
    default:
        break;
    }
    noTextForm(value); // object paths and signatures too: not text, numbers or booleans
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
