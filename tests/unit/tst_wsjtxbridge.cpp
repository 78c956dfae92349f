// SPDX-License-Identifier: GPL-3.0-or-later
#include "bridgecall.h"
#include "bridgelog.h"
#include "fakewsjtx.h"
#include "wsjtxbridge.h"

#include <QDataStream>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTextStream>

// The bridge's calls on WSJT-X, against a fake WSJT-X.
class TestWsjtxBridge : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void readsFollowStatus();
    void macros_data();
    void macros();
    void goneIsNotAnsweredFor_data();
    void goneIsNotAnsweredFor();
    void hostileDatagrams();

private:
    void contact(); // the fake's first heartbeat, and the Replay it brings
    Call macro(const QString &text) { return [=, this](BridgeDone done) { bridge->runner.executeMacros(text, done); }; }
    Call readAll() { return [this](BridgeDone done) { bridge->view.readAll(done); }; }

    QString errors;
    QTextStream errorStream{&errors};
    BridgeLog log{errorStream, "palvo2-wsjtx", false};
    std::unique_ptr<WsjtxBridge> bridge;
    std::unique_ptr<FakeWsjtx> fake;
};

void TestWsjtxBridge::init()
{
    errors.clear();
    bridge = std::make_unique<WsjtxBridge>(
        WsjtxLink::Options{.port = 0, .probeMs = 100, .heartbeatsMissedMs = 1500}, log, 1800);
    QCOMPARE(bridge->link.open(), QString());
    fake = std::make_unique<FakeWsjtx>(bridge->link.port());
}

void TestWsjtxBridge::cleanup()
{
    fake.reset();
    bridge.reset();
}

void TestWsjtxBridge::contact()
{
    fake->heartbeat();
    // Until WSJT-X's state is known and the check of its requests has ended, Replays may still come.
    QTRY_VERIFY_WITH_TIMEOUT(bridge->link.accepts() == WsjtxLink::Accepts::No
                                 || (bridge->link.accepts() == WsjtxLink::Accepts::Yes && bridge->link.settled()), 5000);
    fake->requests.clear();
}

// Reads answer at once from WSJT-X's latest Status; its start-up burst is announced once, settled.
void TestWsjtxBridge::readsFollowStatus()
{
    QSignalSpy answering(&bridge->presence, &Presence::answering);
    fake->acceptsRequests = false;
    fake->heartbeat();
    QTest::qWait(100);
    QCOMPARE(answering.size(), 0); // the name is taken once a Status has come
    fake->acceptsRequests = true;
    // A start-up whose Status never settles: a read fails saying so.
    QTimer stream;
    connect(&stream, &QTimer::timeout, fake.get(), [this] { ++fake->status.dialHz, fake->sendStatus(); });
    stream.start(100);
    bridge->view.start(); // a refresh in flight, which the read joins
    QTest::qWait(50);
    const Outcome unsettled = run(readAll());
    stream.stop();
    QVERIFY2(unsettled.failure && unsettled.failure->text.contains("has not settled: its Status kept changing"),
             qPrintable(unsettled.failure ? unsettled.failure->text : "read"));
    fake->status.dialHz = 14074000;
    fake->sendStatus();
    QTRY_VERIFY(!answering.isEmpty());
    QCOMPARE(run(readAll()).value, QVariant(QVariantMap{{"AudioFq", 1500}, {"FqA", 14074000.0}, {"Mode", "FT8"},
                                                        {"Transmitting", false}, {"Modes", WsjtxDriver::modes()}}));

    // Once settled, every Status is current, however often it comes (the operator turning the VFO).
    QSignalSpy announced(&bridge->view, &BridgeView::valuesChanged);
    for (int i = 1; i <= 8; ++i) {
        fake->status.dialHz = 7047500 + i * 100;
        fake->sendStatus();
        QTRY_COMPARE(announced.size(), i);
        QCOMPARE(announced.last()[0].toMap(), (QVariantMap{{"FqA", 7047500.0 + i * 100}}));
        QTest::qWait(WsjtxLink::quietMs / 6);
    }
    QCOMPARE(run(readAll()).value.toMap().value("FqA"), QVariant(7048300.0));
    fake->status.transmitting = true; // started in WSJT-X's window
    fake->sendStatus();
    QTRY_COMPARE(announced.last()[0].toMap(), (QVariantMap{{"Transmitting", true}}));
}

// Each step is confirmed from what WSJT-X sends; what it cannot be asked is refused unsent.
void TestWsjtxBridge::macros_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("macro");
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QList<quint32>>("requests");
    QTest::addColumn<QVariantMap>("shown"); // read at once after the reply
    using T = wsjtx::Type;
    const quint32 configure = quint32(T::Configure), replay = quint32(T::Replay), halt = quint32(T::HaltTx),
                  clear = quint32(T::Clear);
    QTest::newRow("a mode") << "" << "<MODE:FT4>" << "" << QList{configure} << QVariantMap{{"Mode", "FT4"}};
    QTest::newRow("the mode it is in") << "" << "<MODE:FT8>" << "" << QList{replay} << QVariantMap{{"Mode", "FT8"}};
    QTest::newRow("the mode it was in, changed at WSJT-X unread") << "operator picks FT4" << "<MODE:FT8>" << ""
                                                                  << QList{replay, configure} << QVariantMap{{"Mode", "FT8"}};
    QTest::newRow("a mode with its own T/R period") << "FST4 at 300 s" << "<MODE:Q65>" << "" << QList{configure}
                                                    << QVariantMap{{"Mode", "Q65"}};
    QTest::newRow("Rx DF, settled") << "" << "<AUDIOFQ:1234>" << "" << QList{configure, replay, replay}
                                    << QVariantMap{{"AudioFq", 1234}};
    QList<quint32> sentThrice;
    for (int send = 0; send < WsjtxDriver::rxDfSends; ++send)
        sentThrice << configure << QList<quint32>(WsjtxDriver::rxDfReads, replay);
    QTest::newRow("an Rx DF beyond WSJT-X's limit") << "" << "<AUDIOFQ:6000>"
                                                    << "<AUDIOFQ:6000>: WSJT-X did not take Rx DF 6000: it shows 5000"
                                                    << sentThrice << QVariantMap{{"AudioFq", 5000}};
    // WSJT-X puts the Rx DF back when it was set just after a mode change: it is sent again.
    QTest::newRow("a mode, then Rx DF") << "" << "<MODE:FT4><AUDIOFQ:1234>" << "" << QList<quint32>{quint32(-1)}
                                        << QVariantMap{{"Mode", "FT4"}, {"AudioFq", 1234}};
    // Halt Tx whatever the view shows, then a Replay: WSJT-X answers a HaltTx only when it changed something.
    QTest::newRow("RX while Enable Tx is on") << "Tx enabled" << "<RX>" << "" << QList{halt, replay} << QVariantMap{};
    QTest::newRow("RX while receiving") << "" << "<RX>" << "" << QList{halt, replay} << QVariantMap{};
    QTest::newRow("RX, Enable Tx turned on unread") << "Tx enabled unread" << "<RX>" << "" << QList{halt, replay}
                                                    << QVariantMap{};
    QTest::newRow("RXANDCLEAR while transmitting") << "transmitting" << "<RXANDCLEAR>" << "" << QList{halt, replay}
                                                   << QVariantMap{};
    QTest::newRow("RXANDCLEAR, halting slowly") << "transmitting, halts slowly" << "<RXANDCLEAR>" << ""
                                                << QList{halt, replay} << QVariantMap{};
    QTest::newRow("a clear, twice") << "" << "<CLEARRXWINDOW> <CLEARRXWINDOW>" << "" << QList{clear, replay, clear}
                                    << QVariantMap{};
    // Refused whole, before a step that WSJT-X could take is sent (<TX> is refused end to end).
    QTest::newRow("the dial") << "" << "<MODE:FT4><ZFQ:7074>" << "<ZFQ:7074>: WSJT-X cannot be asked to set the dial"
                              << QList<quint32>{} << QVariantMap{};
    QTest::newRow("a mode it lacks") << "" << "<MODE:RTTY>" << "<MODE:RTTY>: WSJT-X has no mode RTTY; it has FT8, FT4,"
                                     << QList<quint32>{} << QVariantMap{};
    QTest::newRow("requests off") << "requests off" << "<RX>" << "turn on \"Accept UDP requests\"" << QList<quint32>{}
                                  << QVariantMap{};
    QTest::newRow("requests off since contact") << "requests off since contact" << "<MODE:FT4>"
                                                << "WSJT-X did not change to mode FT4: WSJT-X \"WSJT-X\" at 127.0.0.1:"
                                                   "%1 answers no request now: \"Accept UDP requests\" may have been "
                                                   "turned off in its Settings, Reporting tab, or it is stopped; it "
                                                   "may still take effect"
                                                << QList<quint32>{} << QVariantMap{};
}

void TestWsjtxBridge::macros()
{
    QFETCH(QString, setup);
    QFETCH(QString, macro);
    QFETCH(QString, failure);
    QFETCH(QList<quint32>, requests);
    QFETCH(QVariantMap, shown);
    fake->acceptsRequests = setup != "requests off";
    if (setup == "FST4 at 300 s") {
        fake->status.mode = "FST4";
        fake->periods["FST4"] = 300;
    }
    const auto periods = fake->periods; // a mode change leaves every mode's own alone
    fake->status.txEnabled = setup == "Tx enabled" || setup.startsWith("transmitting");
    fake->status.transmitting = setup.startsWith("transmitting");
    fake->haltsSlowly = setup.endsWith("halts slowly");
    contact();
    if (setup == "operator picks FT4") // its Status not read yet
        fake->status.mode = "FT4";
    if (setup == "Tx enabled unread")
        fake->status.txEnabled = true;
    if (setup == "requests off since contact") {
        fake->acceptsRequests = false;
        fake->heartbeat(); // and it still speaks: a Status meanwhile confirms nothing
        QTimer::singleShot(100, fake.get(), [this] { fake->sendStatus(); });
    }
    failure.replace("%1", QString::number(fake->port()));
    if (setup == "requests off") { // WSJT-X still sends its Status
        fake->sendStatus();
        QTRY_VERIFY(bridge->link.latest());
        QVERIFY(!run(readAll()).failure);
    }

    const Outcome outcome = run(this->macro(macro));
    if (failure.isEmpty())
        QVERIFY2(!outcome.failure, qPrintable(outcome.failure ? outcome.failure->text : QString()));
    else
    {
        QVERIFY2(outcome.failure && outcome.failure->text.contains(failure), qPrintable(outcome.failure ? outcome.failure->text : "none"));
        // Only what WSJT-X may yet carry out says so.
        QCOMPARE(outcome.failure->text.contains("may still take effect"), failure.contains("may still take effect"));
    }
    if (requests != QList<quint32>{quint32(-1)}) // -1: as many as it takes
        QCOMPARE(fake->requests, requests);
    QCOMPARE(fake->periods, periods);
    if (failure.isEmpty() && macro.startsWith("<RX")) { // WSJT-X halted by the reply
        QVERIFY(!fake->status.txEnabled);
        QVERIFY(macro != "<RXANDCLEAR>" || !fake->status.transmitting);
    }
    const auto read = start(readAll());
    QVERIFY(read->ms >= 0);
    for (auto it = shown.cbegin(); it != shown.cend(); ++it)
        QCOMPARE(read->value.toMap().value(it.key()), it.value());
}

// A WSJT-X that is gone is not answered for: its Close, its port closed, its heartbeats missed.
void TestWsjtxBridge::goneIsNotAnsweredFor_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("withinMs");
    QTest::newRow("its Close") << "close" << 100;
    QTest::newRow("killed: its port closed") << "kill" << 300; // two probes
    QTest::newRow("silent: its heartbeats missed") << "silent" << 2500;
}

void TestWsjtxBridge::goneIsNotAnsweredFor()
{
    QFETCH(QString, how);
    QFETCH(int, withinMs);
    contact();
    QVERIFY(!run(readAll()).failure);
    QSignalSpy silenced(&bridge->presence, &Presence::silenced);
    QElapsedTimer clock;
    clock.start();
    if (how == "close")
        fake->close(1000); // its port still open: only its Close tells
    else if (how == "kill")
        fake->kill();
    QTRY_COMPARE_WITH_TIMEOUT(silenced.size(), 1, 5000);
    QVERIFY2(clock.elapsed() < withinMs + 150, qPrintable(QString::number(clock.elapsed())));
    const Outcome read = run(readAll());
    QVERIFY(read.failure && read.failure->text.contains("no WSJT-X heard"));
    QVERIFY(run(macro("<RX>")).failure);
}

// Truncated and hostile datagrams are refused whole, and change nothing.
void TestWsjtxBridge::hostileDatagrams()
{
    contact();
    QByteArray status;
    {
        QDataStream out(&status, QIODevice::WriteOnly);
        out << wsjtx::magic << wsjtx::schema << quint32(wsjtx::Type::Status) << QByteArray("WSJT-X") << quint64(7074000)
            << QByteArray("FT4") << QByteArray() << QByteArray() << QByteArray() << true << true << false << quint32(900)
            << quint32(900);
    }
    for (qsizetype cut = 0; cut < status.size(); ++cut) {
        QVERIFY(!wsjtx::read(status.left(cut)) || !wsjtx::read(status.left(cut))->status);
        fake->sendRaw(status.left(cut));
    }
    QByteArray huge = status.left(12);
    QDataStream(&huge, QIODevice::Append) << quint32(0xfffffff0); // an Id of 4 GiB, in a small datagram
    QVERIFY(!wsjtx::read(huge));
    fake->sendRaw(huge);
    QVERIFY(wsjtx::read(status) && wsjtx::read(status)->status->rxDf == 900); // whole, it is a (short) Status

    // Whole Statuses not from the WSJT-X followed: its Id from another port, another Id from its port.
    // One that comes during a call, after its first request went out, fails the rest of it, and
    // that is no refusal: something of the call was carried out.
    const auto midCall = start(macro("<AUDIOFQ:1200><MODE:FT4>"));
    QTRY_VERIFY(!fake->requests.isEmpty());
    FakeWsjtx impostor(bridge->link.port());
    impostor.status.dialHz = 50313000;
    impostor.sendStatus();
    QTRY_VERIFY(midCall->ms >= 0);
    QVERIFY2(midCall->failure && midCall->failure->text.contains("both speak as WSJT-X"),
             qPrintable(midCall->failure ? midCall->failure->text : "done"));
    QCOMPARE(midCall->failure->cause, BridgeFailure::Cause::NotCarriedOut);
    fake->requests.clear();
    fake->status.dialHz = 7074000;
    fake->sendStatusAs("JTDX");
    QTest::qWait(100);
    QCOMPARE(bridge->link.latest()->mode, QStringLiteral("FT8"));
    QCOMPARE(bridge->link.latest()->dialHz, quint64(14074000));
    // While another speaks as WSJT-X, nothing is sent to either.
    const Outcome refused = run(macro("<RX>"));
    QVERIFY2(refused.failure && refused.failure->text.contains("both speak as WSJT-X"),
             qPrintable(refused.failure ? refused.failure->text : "done"));
    QCOMPARE(refused.failure->cause, BridgeFailure::Cause::Refused);
    QVERIFY(fake->requests.isEmpty() && impostor.requests.isEmpty());
    QVERIFY(errors.contains("speaks as WSJT-X too"));
}

QTEST_GUILESS_MAIN(TestWsjtxBridge)
#include "tst_wsjtxbridge.moc"
