// SPDX-License-Identifier: GPL-3.0-or-later
#include "simhost.h"

#include <QTest>
#include <QTextStream>

// The stand-in host carrying out macros, without a bus.
class TestSimHost : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void startsLikeAFreshHost();
    void setsFrequenciesAndMode();
    void transmitText_data();
    void transmitText();
    void badInputIsIgnoredAndReported_data();
    void badInputIsIgnoredAndReported();
    void refusesModesItLacks();
    void printsEachMacroOnOneLine();

private:
    QString out, errors;
    QTextStream outStream{&out}, errorStream{&errors};
    std::unique_ptr<SimHost> sim;
};

void TestSimHost::init()
{
    out.clear();
    errors.clear();
    sim = std::make_unique<SimHost>(QDBusConnection(QStringLiteral("no bus")), outStream, errorStream);
}

void TestSimHost::startsLikeAFreshHost()
{
    QCOMPARE(sim->audioFq(), 1000);
    QCOMPARE(sim->fqA(), 14100000.0);
    QCOMPARE(sim->mode(), QStringLiteral("BPSK31"));
    QVERIFY(!sim->transmitting());
}

void TestSimHost::setsFrequenciesAndMode()
{
    sim->ExecuteMacros(QStringLiteral("<AUDIOFQ:1234><ZFQ:7074.15><MODE:RTTY>"));
    QCOMPARE(sim->audioFq(), 1234);
    QCOMPARE(sim->fqA(), 7074150.0);
    QCOMPARE(sim->mode(), QStringLiteral("RTTY"));
    sim->ExecuteMacros(QStringLiteral("<ZFQ: 14100.0006 ><MODE: CW >"));
    QCOMPARE(sim->fqA(), 14100001.0); // to the hertz
    QCOMPARE(sim->mode(), QStringLiteral("CW"));
    QVERIFY(errors.isEmpty());
}

// Text goes out while transmitting and is echoed in the receive text; <RX> ends the
// transmission after the text, <RXANDCLEAR> drops what is unsent and leaves the receive text.
void TestSimHost::transmitText_data()
{
    QTest::addColumn<QStringList>("macros");
    QTest::addColumn<bool>("transmitting");
    QTest::addColumn<QString>("tx");
    QTest::addColumn<QString>("rx");
    QTest::newRow("queued, not sent") << QStringList{"CQ"} << false << "CQ" << "";
    QTest::newRow("sent on TX") << QStringList{"CQ<TX>de me"} << true << "CQde me" << "CQde me";
    QTest::newRow("RX after the text") << QStringList{"<TX>CQ<RX>", "k"} << false << "CQk" << "CQ";
    QTest::newRow("RXANDCLEAR drops the unsent")
        << QStringList{"<TX>CQ<RX>", "unsent<RXANDCLEAR>"} << false << "CQ" << "CQ";
    QTest::newRow("RXANDCLEAR keeps the receive text")
        << QStringList{"<TX>CQ", "<RXANDCLEAR>"} << false << "CQ" << "CQ";
    QTest::newRow("clear both") << QStringList{"<TX>CQ<RX>", "<CLEARTXWINDOW><CLEARRXWINDOW>"} << false
                                << "" << "";
}

void TestSimHost::transmitText()
{
    QFETCH(QStringList, macros);
    QFETCH(bool, transmitting);
    QFETCH(QString, tx);
    QFETCH(QString, rx);
    for (const QString &macro : macros)
        sim->ExecuteMacros(macro);
    QCOMPARE(sim->transmitting(), transmitting);
    QCOMPARE(sim->txBuffer(), tx);
    QCOMPARE(sim->rxBuffer(), rx);
    QVERIFY(errors.isEmpty());
}

void TestSimHost::badInputIsIgnoredAndReported_data()
{
    QTest::addColumn<QString>("macro");
    QTest::newRow("unknown tag") << "<NOPE>";
    QTest::newRow("audio not a number") << "<AUDIOFQ:abc>";
    QTest::newRow("audio empty") << "<AUDIOFQ:>";
    QTest::newRow("audio fraction") << "<AUDIOFQ:1000.5>";
    QTest::newRow("audio negative") << "<AUDIOFQ:-5>";
    QTest::newRow("audio overflow") << "<AUDIOFQ:99999999999999999999>";
    QTest::newRow("rig not a number") << "<ZFQ:fourteen>";
    QTest::newRow("rig infinite") << "<ZFQ:inf>";
    QTest::newRow("rig NaN") << "<ZFQ:nan>";
    QTest::newRow("rig beyond a double in hertz") << "<ZFQ:1e306>";
    QTest::newRow("rig zero") << "<ZFQ:0>";
    QTest::newRow("rig under a hertz") << "<ZFQ:0.0004>";
    QTest::newRow("rig negative") << "<ZFQ:-7074>";
    QTest::newRow("mode empty") << "<MODE:>";
    QTest::newRow("mode without argument") << "<MODE>";
    QTest::newRow("mode not a name") << "<MODE:RT TY>";
    QTest::newRow("argument where none is taken") << "<TX:now>";
}

void TestSimHost::badInputIsIgnoredAndReported()
{
    QFETCH(QString, macro);
    sim->ExecuteMacros(macro);
    QCOMPARE(sim->audioFq(), 1000);
    QCOMPARE(sim->fqA(), 14100000.0);
    QCOMPARE(sim->mode(), QStringLiteral("BPSK31"));
    QVERIFY(!sim->transmitting());
    QVERIFY2(errors.startsWith(QStringLiteral("palvo2-sim: ignored ")), qPrintable(errors));
    QCOMPARE(errors.count(u'\n'), 1);
}

// A well-formed mode it has not fails the call, and nothing of it is carried out.
void TestSimHost::refusesModesItLacks()
{
    sim->ExecuteMacros(QStringLiteral("<AUDIOFQ:1234><MODE:FT8>"));
    QCOMPARE(sim->audioFq(), 1000);
    QCOMPARE(sim->mode(), QStringLiteral("BPSK31"));
    QVERIFY2(errors.startsWith("palvo2-sim: <MODE:FT8>: palvo2-sim has no mode FT8; it has SSB, AM, FM, CW,"), qPrintable(errors));
}

void TestSimHost::printsEachMacroOnOneLine()
{
    sim->ExecuteMacros(QStringLiteral("<TX>"));
    sim->ExecuteMacros(QStringLiteral("a\nb\\"));
    sim->ExecuteMacros(QString());
    QCOMPARE(out, QStringLiteral("<TX>\na\\nb\\\\\n\n"));
}

QTEST_GUILESS_MAIN(TestSimHost)
#include "tst_simhost.moc"
