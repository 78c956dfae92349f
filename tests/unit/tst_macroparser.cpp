// SPDX-License-Identifier: GPL-3.0-or-later
#include "macroparser.h"

#include <QTest>

namespace {

MacroItem tag(const QString &keyword)
{
    return {MacroItem::Kind::Tag, keyword, {}, false, {}};
}

MacroItem tag(const QString &keyword, const QString &argument)
{
    return {MacroItem::Kind::Tag, keyword, argument, true, {}};
}

MacroItem text(const QString &text)
{
    return {MacroItem::Kind::Text, {}, {}, false, text};
}

} // namespace

class TestMacroParser : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
};

void TestMacroParser::parse_data()
{
    QTest::addColumn<QString>("macro");
    QTest::addColumn<QList<MacroItem>>("items");

    QTest::newRow("empty") << "" << QList<MacroItem>{};
    QTest::newRow("one tag") << "<TX>" << QList{tag("TX")};
    QTest::newRow("two tags") << "<CLEARTXWINDOW><CLEARRXWINDOW>"
                              << QList{tag("CLEARTXWINDOW"), tag("CLEARRXWINDOW")};
    QTest::newRow("argument") << "<AUDIOFQ:1000>" << QList{tag("AUDIOFQ", "1000")};
    QTest::newRow("empty argument") << "<AUDIOFQ:>" << QList{tag("AUDIOFQ", "")};
    QTest::newRow("argument as typed") << "<ZFQ: 14 100x>" << QList{tag("ZFQ", " 14 100x")};
    QTest::newRow("colon in argument") << "<MODE:a:b>" << QList{tag("MODE", "a:b")};
    QTest::newRow("text around tags")
        << "CQ CQ<TX>de me<RXANDCLEAR> k"
        << QList{text("CQ CQ"), tag("TX"), text("de me"), tag("RXANDCLEAR"), text(" k")};
    QTest::newRow("lower case is text") << "<tx>" << QList{text("<tx>")};
    QTest::newRow("stray open") << "a < b <TX>" << QList{text("a < b "), tag("TX")};
    QTest::newRow("unclosed tag") << "<MODE:RTTY" << QList{text("<MODE:RTTY")};
    QTest::newRow("open inside argument")
        << "<MODE:<TX>" << QList{text("<MODE:"), tag("TX")};
    QTest::newRow("empty keyword") << "<>" << QList{text("<>")};
    QTest::newRow("stray close") << "> <TX>>" << QList{text("> "), tag("TX"), text(">")};
    QTest::newRow("unknown tag is a tag") << "<NOPE_1>" << QList{tag("NOPE_1")};
    QTest::newRow("non-ASCII text") << "73 ÄÖ<TX>" << QList{text("73 ÄÖ"), tag("TX")};
}

void TestMacroParser::parse()
{
    QFETCH(QString, macro);
    QFETCH(QList<MacroItem>, items);
    QCOMPARE(parseMacros(macro), items);
}

QTEST_GUILESS_MAIN(TestMacroParser)
#include "tst_macroparser.moc"
