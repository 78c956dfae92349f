// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target: host values to text. Whatever the host sends, conversion either gives
// text or throws HostFailure; numbers shown must read back as the same number in the same
// locale, and text must stand as it came.
#include "hostfailure.h"
#include "valuetext.h"

#include <QDBusVariant>
#include <QStringList>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

[[noreturn]] void broken(const char *what, const QString &detail = {})
{
    fprintf(stderr, "value text: %s %s\n", what, qPrintable(detail));
    abort();
}

// Consumes the input front to back; past the end everything reads as zero.
class Input
{
public:
    Input(const uint8_t *data, size_t size) : m_data(data), m_size(size) {}

    template <typename T> T take()
    {
        T value{};
        const size_t n = std::min(sizeof(T), m_size);
        memcpy(&value, m_data, n);
        m_data += n;
        m_size -= n;
        return value;
    }
    QString rest()
    {
        const QString text = QString::fromUtf8(reinterpret_cast<const char *>(m_data), qsizetype(m_size));
        m_size = 0;
        return text;
    }

private:
    const uint8_t *m_data;
    size_t m_size;
};

const QList<QLocale> &locales()
{
    // Decimal comma, Arabic-Indic digits, Persian and Indian forms, and plain C.
    static const QList<QLocale> all = {QLocale::c(), QLocale(QStringLiteral("en_US")),
                                       QLocale(QStringLiteral("de_DE")), QLocale(QStringLiteral("fr_CH")),
                                       QLocale(QStringLiteral("ar_EG")), QLocale(QStringLiteral("fa_IR")),
                                       QLocale(QStringLiteral("hi_IN")), QLocale(QStringLiteral("sv_SE"))};
    return all;
}

bool sameNumber(double shown, double original)
{
    if (std::isnan(original))
        return std::isnan(shown);
    if (std::isinf(original))
        return shown == original;
    // 15 significant digits, or one step of the smallest subnormals.
    const double tolerance = std::max(std::abs(original) * 1e-14, 2 * std::numeric_limits<double>::denorm_min());
    return std::abs(shown - original) <= tolerance;
}

void checkNumber(const QVariant &value, double original, const QLocale &locale)
{
    const QString text = valueText(value, locale);
    if (text.isEmpty() || (!locale.groupSeparator().isEmpty() && text.contains(locale.groupSeparator())))
        broken("grouped or empty number text", text);
    for (const QChar c : text) {
        if (c.isDigit() && QString(QChar(c.unicode() - c.digitValue())) != locale.zeroDigit())
            broken("a digit of another system than the locale's", text);
    }
    double back = 0;
    try {
        back = valueNumber(QVariant(text), locale);
    } catch (const HostFailure &failure) {
        broken("shown number does not read back:", text + u' ' + failure.text);
    }
    if (!sameNumber(back, original))
        broken("shown number reads back as another:", text);
    if (!sameNumber(valueNumber(value, locale), original))
        broken("valueNumber changed the number", text);
}

void check(Input &in)
{
    const QLocale &locale = locales()[in.take<uint8_t>() % locales().size()];
    const uint8_t kind = in.take<uint8_t>();
    const int wraps = kind >> 4 & 3; // values may arrive wrapped in D-Bus variants
    QVariant value;
    double number = std::nan("");
    bool isNumber = true;
    switch (kind & 15) {
    case 0: value = number = in.take<double>(); break;
    case 1: { const float f = in.take<float>(); value = f; number = double(f); break; }
    case 2: { const auto v = in.take<qint64>(); value = QVariant::fromValue(v); number = double(v); break; }
    case 3: { const auto v = in.take<quint64>(); value = QVariant::fromValue(v); number = double(v); break; }
    case 4: { const auto v = in.take<qint32>(); value = v; number = v; break; }
    case 5: { const auto v = in.take<quint16>(); value = QVariant::fromValue(v); number = v; break; }
    case 6: { const auto v = in.take<uint8_t>(); value = QVariant::fromValue<uchar>(v); number = v; break; }
    case 7: value = bool(in.take<uint8_t>() & 1); isNumber = false; break;
    case 8: value = QVariant::fromValue(nullptr); isNumber = false; break;
    case 9: value = QVariant(); isNumber = false; break;
    case 10: value = QStringList{in.rest()}; isNumber = false; break;
    default: value = in.rest(); isNumber = false; break;
    }
    for (int i = 0; i < wraps; ++i)
        value = QVariant::fromValue(QDBusVariant(value));

    if (isNumber) {
        checkNumber(value, number, locale);
        return;
    }

    QString text;
    try {
        text = valueText(value, locale);
    } catch (const HostFailure &failure) {
        if (failure.number != HostFailure::NoTextForm)
            broken("wrong failure for a value with no text");
    }
    QVariant bare = value;
    while (bare.metaType() == QMetaType::fromType<QDBusVariant>())
        bare = qvariant_cast<QDBusVariant>(bare).variant();
    if (bare.metaType().id() == QMetaType::QString && text != bare.toString())
        broken("text did not stand as it came", text);

    try {
        const double parsed = valueNumber(value, locale);
        if (bare.metaType().id() == QMetaType::QString && std::isfinite(parsed)
            && !sameNumber(valueNumber(QVariant(numberText(parsed, locale)), locale), parsed))
            broken("a number read from text does not show and read back", text);
    } catch (const HostFailure &failure) {
        if (failure.number != HostFailure::NotANumber && failure.number != HostFailure::NoTextForm)
            broken("wrong failure for a value that is not a number");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Input in(data, size);
    check(in);
    return 0;
}
