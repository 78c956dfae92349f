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
    void transmitAndReceive();
    void textGoesToTransmitBuffer();
    void badInputIsIgnoredAndReported_data();
    void badInputIsIgnoredAndReported();
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
    sim->ExecuteMacros(QStringLiteral("<ZFQ:14100.0005>"));
    QCOMPARE(sim->fqA(), 14100000.5);
    QVERIFY(errors.isEmpty());
}

void TestSimHost::transmitAndReceive()
{
    sim->ExecuteMacros(QStringLiteral("<TX>"));
    QVERIFY(sim->transmitting());
    sim->ExecuteMacros(QStringLiteral("<RXANDCLEAR>"));
    QVERIFY(!sim->transmitting());
}

void TestSimHost::textGoesToTransmitBuffer()
{
    sim->ExecuteMacros(QStringLiteral("CQ CQ <TX>de test"));
    QCOMPARE(sim->txBuffer(), QStringLiteral("CQ CQ de test"));
    sim->ExecuteMacros(QStringLiteral("<CLEARTXWINDOW><CLEARRXWINDOW>"));
    QCOMPARE(sim->txBuffer(), QString());
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
    QTest::newRow("rig huge") << "<ZFQ:1e300>";
    QTest::newRow("mode empty") << "<MODE:>";
    QTest::newRow("mode without argument") << "<MODE>";
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

void TestSimHost::printsEachMacroOnOneLine()
{
    sim->ExecuteMacros(QStringLiteral("<TX>"));
    sim->ExecuteMacros(QStringLiteral("a\nb\\"));
    sim->ExecuteMacros(QString());
    QCOMPARE(out, QStringLiteral("<TX>\na\\nb\\\\\n\n"));
}

QTEST_GUILESS_MAIN(TestSimHost)
#include "tst_simhost.moc"
