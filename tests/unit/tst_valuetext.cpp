// SPDX-License-Identifier: GPL-3.0-or-later
#include "hostfailure.h"
#include "valuetext.h"

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDBusSignature>
#include <QDBusVariant>
#include <QTest>

#include <limits>

class TestValueText : public QObject
{
    Q_OBJECT

private slots:
    void text_data();
    void text();
    void noTextForm_data();
    void noTextForm();
    void numbers_data();
    void numbers();
    void exponentsReadBack_data();
    void exponentsReadBack();
    void numberFromValue_data();
    void numberFromValue();
    void notANumber_data();
    void notANumber();
    void systemLocale();
};

void TestValueText::text_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("c");
    QTest::addColumn<QString>("german");

    QTest::newRow("text") << QVariant(QStringLiteral("BPSK31")) << "BPSK31" << "BPSK31";
    QTest::newRow("markup stays text") << QVariant(QStringLiteral("<b>x</b>")) << "<b>x</b>" << "<b>x</b>";
    QTest::newRow("empty text") << QVariant(QString()) << "" << "";
    QTest::newRow("empty value") << QVariant() << "" << "";
    QTest::newRow("byte is a number") << QVariant::fromValue<uchar>(65) << "65" << "65";
    QTest::newRow("int16") << QVariant::fromValue<short>(-1200) << "-1200" << "-1200";
    QTest::newRow("uint16") << QVariant::fromValue<ushort>(65535) << "65535" << "65535";
    QTest::newRow("int32 ungrouped") << QVariant(1234567) << "1234567" << "1234567";
    QTest::newRow("uint32") << QVariant(4294967295u) << "4294967295" << "4294967295";
    QTest::newRow("int64")
        << QVariant::fromValue<qlonglong>(std::numeric_limits<qlonglong>::min())
        << "-9223372036854775808" << "-9223372036854775808";
    QTest::newRow("uint64")
        << QVariant::fromValue<qulonglong>(std::numeric_limits<qulonglong>::max())
        << "18446744073709551615" << "18446744073709551615";
    QTest::newRow("true") << QVariant(true) << "True" << "True";
    QTest::newRow("false") << QVariant(false) << "False" << "False";
    QTest::newRow("whole double") << QVariant(1000.0) << "1000" << "1000";
    QTest::newRow("fraction") << QVariant(1500.25) << "1500.25" << "1500,25";
    QTest::newRow("wrapped in a variant")
        << QVariant::fromValue(QDBusVariant(QVariant(7.5))) << "7.5" << "7,5";
}

void TestValueText::text()
{
    QFETCH(QVariant, value);
    QFETCH(QString, c);
    QFETCH(QString, german);
    QCOMPARE(valueText(value, QLocale::c()), c);
    QCOMPARE(valueText(value, QLocale(QLocale::German, QLocale::Germany)), german);
}

void TestValueText::noTextForm_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::newRow("null") << QVariant::fromValue(nullptr);
    QTest::newRow("list") << QVariant(QVariantList{1, 2});
    QTest::newRow("map") << QVariant(QVariantMap{{QStringLiteral("a"), 1}});
    QTest::newRow("string list") << QVariant(QStringList{QStringLiteral("a")});
    QTest::newRow("D-Bus array") << QVariant::fromValue(QDBusArgument());
    QTest::newRow("bytes") << QVariant(QByteArray("ab"));
    QTest::newRow("object path") << QVariant::fromValue(QDBusObjectPath(QStringLiteral("/Palvo2/Mode/BPSK31")));
    QTest::newRow("signature") << QVariant::fromValue(QDBusSignature(QStringLiteral("s")));
}

void TestValueText::noTextForm()
{
    QFETCH(QVariant, value);
    try {
        valueText(value, QLocale::c());
        QFAIL("no failure");
    } catch (const HostFailure &failure) {
        QCOMPARE(failure.number, int(HostFailure::NoTextForm));
        QVERIFY(!failure.text.isEmpty());
    }
}

void TestValueText::numbers_data()
{
    QTest::addColumn<double>("number");
    QTest::addColumn<QString>("c");
    QTest::addColumn<QString>("german");

    QTest::newRow("whole kHz") << 14100000.0 / 1000 << "14100" << "14100";
    QTest::newRow("fractional kHz") << 14100150.0 / 1000 << "14100.15" << "14100,15";
    QTest::newRow("no trailing zeros") << 7074.5 << "7074.5" << "7074,5";
    QTest::newRow("ungrouped") << 123456789.0 << "123456789" << "123456789";
    QTest::newRow("15 digits") << 123456789012345.0 << "123456789012345" << "123456789012345";
    QTest::newRow("rounding noise") << 0.1 + 0.2 << "0.3" << "0,3";
    QTest::newRow("negative") << -2.5 << "-2.5" << "-2,5";
    QTest::newRow("negative zero") << -0.0 << "0" << "0";
    QTest::newRow("small") << 0.001 << "0.001" << "0,001";
    QTest::newRow("large uses exponent") << 1e20 << "1e+20" << "1E+20";
    QTest::newRow("tiny uses exponent") << 1.5e-7 << "1.5e-07" << "1,5E-07";
}

void TestValueText::numbers()
{
    QFETCH(double, number);
    QFETCH(QString, c);
    QFETCH(QString, german);
    QCOMPARE(numberText(number, QLocale::c()), c);
    QCOMPARE(numberText(number, QLocale(QLocale::German, QLocale::Germany)), german);
}

// Some locales' exponent forms are ones Qt cannot read back; what is shown must read.
void TestValueText::exponentsReadBack_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<double>("number");
    QTest::addColumn<QString>("shown");

    QTest::newRow("German keeps its own form") << "de_DE" << 1.5e-7 << "1,5E-07";
    QTest::newRow("Norwegian keeps its minus sign") << "nb_NO" << 1.5e-7 << "1,5E\u221207";
    QTest::newRow("Swedish") << "sv_SE" << 1.5e-7 << "1.5e-07";
    QTest::newRow("Swedish large") << "sv_SE" << -2.5e300 << "-2.5e+300";
    QTest::newRow("Persian") << "fa_IR" << 1.5e-7 << "\u06f1\u066b\u06f5e-\u06f0\u06f7";
    QTest::newRow("Persian negative") << "fa_IR" << -2.5 << "\u2212\u06f2\u066b\u06f5";
    QTest::newRow("Arabic") << "ar_EG" << 1e20 << "\u0661e+\u0662\u0660";
    QTest::newRow("Hebrew") << "he_IL" << 1.5e-7 << "1.5E-07";
    QTest::newRow("subnormal") << "sv_SE" << 5e-320 << "4.99994433591342e-320";
    QTest::newRow("largest double") << "C" << std::numeric_limits<double>::max()
                                    << "1.7976931348623157e+308";
    QTest::newRow("Arabic negative, its own digits") << "ar_EG" << -2.5 << "-\u0662\u066b\u0665";
}

void TestValueText::exponentsReadBack()
{
    QFETCH(QString, locale);
    QFETCH(double, number);
    QFETCH(QString, shown);
    const QLocale l(locale);
    const QString text = numberText(number, l);
    QCOMPARE(text, shown);
    QCOMPARE(valueNumber(QVariant(text), l), number);
}

void TestValueText::numberFromValue_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<double>("number");
    QTest::newRow("int") << QVariant(14100000) << 14100000.0;
    QTest::newRow("byte") << QVariant::fromValue<uchar>(200) << 200.0;
    QTest::newRow("uint64") << QVariant::fromValue<qulonglong>(7074000) << 7074000.0;
    QTest::newRow("double") << QVariant(14100150.5) << 14100150.5;
    QTest::newRow("text") << QVariant(QStringLiteral("14100150")) << 14100150.0;
    QTest::newRow("text with spaces") << QVariant(QStringLiteral(" 7074000 ")) << 7074000.0;
    QTest::newRow("text with a point") << QVariant(QStringLiteral("7074000.5")) << 7074000.5;
    QTest::newRow("empty value") << QVariant() << 0.0;
}

void TestValueText::numberFromValue()
{
    QFETCH(QVariant, value);
    QFETCH(double, number);
    QCOMPARE(valueNumber(value, QLocale::c()), number);
    QCOMPARE(valueNumber(value, QLocale(QLocale::German, QLocale::Germany)), number);
}

void TestValueText::notANumber_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<int>("number");
    QTest::newRow("words") << QVariant(QStringLiteral("fourteen")) << int(HostFailure::NotANumber);
    QTest::newRow("empty text") << QVariant(QString()) << int(HostFailure::NotANumber);
    QTest::newRow("boolean") << QVariant(true) << int(HostFailure::NotANumber);
    QTest::newRow("list") << QVariant(QVariantList{1}) << int(HostFailure::NotANumber);
    QTest::newRow("null") << QVariant::fromValue(nullptr) << int(HostFailure::NoTextForm);
}

void TestValueText::notANumber()
{
    QFETCH(QVariant, value);
    QFETCH(int, number);
    try {
        valueNumber(value, QLocale::c());
        QFAIL("no failure");
    } catch (const HostFailure &failure) {
        QCOMPARE(failure.number, number);
    }
}

// Run with LC_ALL set and EXPECT_DECIMAL_POINT naming its separator.
void TestValueText::systemLocale()
{
    const QString expected = qEnvironmentVariable("EXPECT_DECIMAL_POINT", QStringLiteral("."));
    QCOMPARE(QLocale::system().decimalPoint(), expected);
    QCOMPARE(numberText(14100.15), QStringLiteral("14100") + expected + QStringLiteral("15"));
    QCOMPARE(valueText(QVariant(1234567)), QStringLiteral("1234567"));
}

QTEST_GUILESS_MAIN(TestValueText)
#include "tst_valuetext.moc"
