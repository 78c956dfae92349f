#include "fakefldigi.h"
#include "fldigihost.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

// The bridge's mapping onto fldigi's XML-RPC methods, against a fake fldigi.
class TestFldigiBridge : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void reads();
    void modeFromRigMode_data();
    void modeFromRigMode();
    void macrosMapToCalls();
    void modeTable_data();
    void modeTable();
    void ssbSideband_data();
    void ssbSideband();
    void receiveWaitsForRx();
    void noSuchModemIsReported();
    void fldigiNotRunning();
    void fldigiSilent();

private:
    QStringList runMacro(const QString &macro);

    std::unique_ptr<FakeFldigi> fake;
    std::unique_ptr<XmlRpcClient> client;
    QString errors;
    QTextStream errorStream{&errors};
    std::unique_ptr<FldigiHost> host;
};

void TestFldigiBridge::init()
{
    fake = std::make_unique<FakeFldigi>();
    client = std::make_unique<XmlRpcClient>(QUrl(QString("http://127.0.0.1:%1/RPC2").arg(fake->port())), 1500);
    errors.clear();
    host = std::make_unique<FldigiHost>(*client, errorStream);
    host->rxPollMs = 10;
}

void TestFldigiBridge::cleanup()
{
    host.reset();
    client.reset();
    fake.reset();
}

QStringList TestFldigiBridge::runMacro(const QString &macro)
{
    QSignalSpy idle(host.get(), &FldigiHost::becameIdle);
    host->executeMacros(macro);
    if (!host->idle())
        idle.wait(5000);
    return fake->calls();
}

void TestFldigiBridge::reads()
{
    const QVariant audio = host->read("AudioFq");
    QCOMPARE(audio.metaType(), QMetaType::fromType<int>());
    QCOMPARE(audio.toInt(), 1500);
    QCOMPARE(host->read("FqA").toDouble(), 14070000.0);
    QCOMPARE(host->read("Mode").toString(), QStringLiteral("BPSK31"));
    QVERIFY_THROWS_EXCEPTION(BridgeFailure, host->read("Nope"));
    QCOMPARE(fake->calls(), (QStringList{"modem.get_carrier()", "rig.get_frequency()", "modem.get_name()"}));
}

void TestFldigiBridge::modeFromRigMode_data()
{
    QTest::addColumn<QByteArray>("modem");
    QTest::addColumn<QByteArray>("rigMode");
    QTest::addColumn<QString>("shown");
    QTest::newRow("SSB upper") << QByteArray("SSB") << QByteArray("USB") << "SSB";
    QTest::newRow("SSB lower") << QByteArray("SSB") << QByteArray("LSB") << "SSB";
    QTest::newRow("AM") << QByteArray("SSB") << QByteArray("AM") << "AM";
    QTest::newRow("NULL modem, FM") << QByteArray("NULL") << QByteArray("FM") << "FM";
    QTest::newRow("a modem") << QByteArray("RTTY") << QByteArray("USB") << "RTTY";
}

void TestFldigiBridge::modeFromRigMode()
{
    QFETCH(QByteArray, modem);
    QFETCH(QByteArray, rigMode);
    QFETCH(QString, shown);
    fake->answer("modem.get_name", modem);
    fake->answer("rig.get_mode", rigMode);
    QCOMPARE(host->read("Mode").toString(), shown);
}

void TestFldigiBridge::macrosMapToCalls()
{
    const QStringList calls = runMacro("<AUDIOFQ:1234><ZFQ:7074.15><MODE:MFSK>CQ de me<TX>"
                                       "<CLEARTXWINDOW><CLEARRXWINDOW><AUDIOFQ:12.5><NOPE>");
    QCOMPARE(calls, (QStringList{"modem.set_carrier(int:1234)", "rig.set_frequency(double:7074150.000000)",
                                 "modem.set_by_name(string:MFSK16)", "text.add_tx(string:CQ de me)",
                                 "main.tx()", "text.clear_tx()", "text.clear_rx()"}));
    QVERIFY2(errors.contains("<AUDIOFQ:12.5>") && errors.contains("<NOPE>: unknown tag"), qPrintable(errors));
}

void TestFldigiBridge::modeTable_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("modem");
    const QList<QPair<const char *, const char *>> table = {
        {"SSB", "SSB"},      {"AM", "SSB"},         {"FM", "SSB"},          {"CW", "CW"},
        {"BPSK31", "BPSK31"}, {"QPSK31", "QPSK31"}, {"FSK31", ""},          {"RTTY", "RTTY"},
        {"PACKET", ""},      {"PACTOR", ""},        {"AMTOR", "SITORB"},    {"MFSK", "MFSK16"},
        {"THROB", "THROB1"}, {"MT63", "MT63-1KL"},  {"HELL", "FELDHELL"},   {"FAX", "WEFAX576"},
        {"SSTV", ""}};
    for (const auto &[mode, modem] : table)
        QTest::newRow(mode) << QString(mode) << QString(modem);
}

void TestFldigiBridge::modeTable()
{
    QFETCH(QString, mode);
    QFETCH(QString, modem);
    const QStringList calls = runMacro("<MODE:" + mode + ">");
    if (modem.isEmpty()) {
        QVERIFY(calls.isEmpty());
        QVERIFY(errors.contains("has no such mode"));
    } else {
        QCOMPARE(calls.value(0), "modem.set_by_name(string:" + modem + ")");
        if (mode == "AM" || mode == "FM")
            QCOMPARE(calls.value(1), "rig.set_mode(string:" + mode + ")");
    }
}

void TestFldigiBridge::ssbSideband_data()
{
    QTest::addColumn<QByteArray>("frequency");
    QTest::addColumn<QString>("sideband");
    QTest::newRow("7 MHz") << QByteArray("<double>7074000.0</double>") << "LSB";
    QTest::newRow("14 MHz") << QByteArray("<double>14070000.0</double>") << "USB";
}

void TestFldigiBridge::ssbSideband()
{
    QFETCH(QByteArray, frequency);
    QFETCH(QString, sideband);
    fake->answer("rig.get_frequency", frequency);
    QCOMPARE(runMacro("<MODE:SSB>"), (QStringList{"modem.set_by_name(string:SSB)", "rig.get_frequency()",
                                                  "rig.set_mode(string:" + sideband + ")"}));
}

void TestFldigiBridge::receiveWaitsForRx()
{
    fake->setTrxStates({"TX", "TX", "RX"});
    host->executeMacros("<RXANDCLEAR><TX>");
    QVERIFY(!host->idle()); // the reply does not wait for the work
    QSignalSpy idle(host.get(), &FldigiHost::becameIdle);
    QVERIFY(idle.wait(5000));
    QCOMPARE(fake->calls(), (QStringList{"main.rx()", "main.get_trx_state()", "main.get_trx_state()",
                                         "main.get_trx_state()", "text.clear_rx()", "main.tx()"}));
}

void TestFldigiBridge::noSuchModemIsReported()
{
    fake->answer("modem.set_by_name", "No such modem");
    runMacro("<MODE:RTTY>");
    QVERIFY2(errors.contains("<MODE:RTTY>: fldigi has no modem RTTY"), qPrintable(errors));
}

void TestFldigiBridge::fldigiNotRunning()
{
    const quint16 port = fake->port();
    fake.reset(); // the port is closed now
    XmlRpcClient gone(QUrl(QString("http://127.0.0.1:%1/RPC2").arg(port)), 1500);
    FldigiHost lost(gone, errorStream);
    try {
        lost.read("AudioFq");
        QFAIL("read from a closed port");
    } catch (const BridgeFailure &failure) {
        QVERIFY2(failure.text.startsWith(QString("fldigi is not answering at http://127.0.0.1:%1/RPC2").arg(port)),
                 qPrintable(failure.text));
    }
}

void TestFldigiBridge::fldigiSilent()
{
    fake->setSilent(true);
    QElapsedTimer clock;
    clock.start();
    QVERIFY_THROWS_EXCEPTION(BridgeFailure, host->read("FqA"));
    QVERIFY2(clock.elapsed() >= 1400 && clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
}

QTEST_GUILESS_MAIN(TestFldigiBridge)
#include "tst_fldigibridge.moc"
