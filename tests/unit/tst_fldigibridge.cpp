// SPDX-License-Identifier: GPL-3.0-or-later
#include "bridgecall.h"
#include "contract.h"
#include "bridgelog.h"
#include "fakefldigi.h"
#include "fldigibridge.h"
#include "httpreply.h"
#include "presence.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QSignalSpy>
#include <QTemporaryFile>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QTextStream>

#include <optional>

#include <sys/stat.h>
#include <unistd.h>

namespace {


// What one refresh of the view asks fldigi, as the fake records it.
const QStringList viewReads{"modem.get_carrier()", "rig.get_frequency()", "modem.get_name()", "rig.get_mode()",
                            "main.get_trx_state()", "modem.get_names()"};

QByteArray http(const QByteArray &body)
{
    return "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

QByteArray response(const QByteArray &value)
{
    return "<?xml version=\"1.0\"?><methodResponse><params><param><value>" + value
           + "</value></param></params></methodResponse>";
}

} // namespace

// The bridge's calls on fldigi, against a fake fldigi.
class TestFldigiBridge : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void reads();
    void modesRoundTrip();
    void modeFromRigMode_data();
    void modeFromRigMode();
    void macrosMapToCalls_data();
    void macrosMapToCalls();
    void modeTable_data();
    void modeTable();
    void ssbSideband_data();
    void ssbSideband();
    void failures_data();
    void failures();
    void answersAreBoundedAndTyped_data();
    void answersAreBoundedAndTyped();
    void everyCallWithinItsTime();
    void failedCallIsUndone_data();
    void failedCallIsUndone();
    void silenceIsFldigisOwn();
    void oneConnectionForManyCalls();
    void logLines_data();
    void logLines();
    void viewAnswersReads_data();
    void viewAnswersReads();
    void refreshesKeepTheirRate();
    void readYourWrites_data();
    void readYourWrites();
    void closedConnections_data();
    void closedConnections();

private:
    Call macro(const QString &text) { return [=, this](BridgeDone done) { bridge->runner.executeMacros(text, done); }; }
    Call read(const QString &name) { return [=, this](BridgeDone done) { bridge->view.read(name, done); }; }
    Call readAll() { return [=, this](BridgeDone done) { bridge->view.readAll(done); }; }
    QUrl fakeUrl() const { return QUrl(QString("http://127.0.0.1:%1/RPC2").arg(fake->port())); }

    std::unique_ptr<FakeFldigi> fake;
    QString errors;
    QTextStream errorStream{&errors};
    BridgeLog log{errorStream, "palvo2-fldigi", false};
    std::unique_ptr<FldigiBridge> bridge;
};

void TestFldigiBridge::init()
{
    fake = std::make_unique<FakeFldigi>();
    errors.clear();
    bridge = std::make_unique<FldigiBridge>(fakeUrl(), log, FldigiBridge::Timing{.undoRetryMs = 100});
}

void TestFldigiBridge::cleanup()
{
    bridge.reset();
    fake.reset();
}

void TestFldigiBridge::reads()
{
    const Outcome audio = run(read("AudioFq"));
    QCOMPARE(audio.value.metaType(), QMetaType::fromType<int>());
    QCOMPARE(audio.value.toInt(), 1500);
    QCOMPARE(run(read("FqA")).value, QVariant(14070000.0));
    QCOMPARE(run(read("Mode")).value, QVariant(QStringLiteral("BPSK31")));
    const QVariantMap all = run(readAll()).value.toMap();
    QCOMPARE(all.value("Mode"), QVariant("BPSK31"));
    QCOMPARE(all.value("Transmitting"), QVariant(false));
    QCOMPARE(fake->calls(), viewReads); // one request for all of them
}

// Every name in Modes is taken by <MODE:…>, and the Mode read after it is among them, so that it
// can be set again: fldigi's own names (MT63-1KL, BPSK63, an Olivia) as well as the panel's.
void TestFldigiBridge::modesRoundTrip()
{
    const QStringList modes = run(read("Modes")).value.toStringList();
    QVERIFY2(modes.contains("BPSK63") && modes.contains("OLIVIA-8-500") && !modes.contains("NULL"), qPrintable(modes.join(' ')));
    for (const QString &mode : modes) {
        const Outcome set = run(macro("<MODE:" + mode + ">"));
        QVERIFY2(!set.failure, qPrintable(set.failure ? set.failure->text : mode));
        const QString shown = run(read("Mode")).value.toString();
        QVERIFY2(modes.contains(shown), qPrintable(mode + " read back as " + shown));
    }
    QVERIFY(run(macro("<MODE:OLIVIA>")).failure); // not a name fldigi lists
    run(macro("<TX>"));
    QTRY_COMPARE_WITH_TIMEOUT(run(read("Transmitting")).value, QVariant(true), 1500); // within the view's second
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
    QCOMPARE(run(read("Mode")).value.toString(), shown);
}

// A step that sets a value reads the view in the same request, after the set.
void TestFldigiBridge::macrosMapToCalls_data()
{
    QTest::addColumn<QStringList>("trxStates");
    QTest::addColumn<QString>("macro");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<int>("requests");
    QTest::addColumn<int>("atLeastMs");
    auto andView = [](const QString &set) { return QStringList{set} + viewReads; };
    QTest::newRow("frequencies, text, clears; bad tags skipped")
        << QStringList{} << "<AUDIOFQ: 1234 ><ZFQ:7074.15>CQ de me<CLEARTXWINDOW><CLEARRXWINDOW><AUDIOFQ:12.5><NOPE>"
        << andView("modem.set_carrier(int:1234)") + andView("rig.set_frequency(double:7074150.000000)")
               + QStringList{"text.add_tx(string:CQ de me)", "text.clear_tx()", "text.clear_rx()"}
        << 5 << 0;
    QTest::newRow("TX waits for transmit") << QStringList{"RX", "TX"} << "<TX>"
                                           << QStringList{"main.tx()", "main.get_trx_state()", "main.get_trx_state()"} << 3 << 0;
    QTest::newRow("RX after the text") << QStringList{} << "k<RX>"
                                       << QStringList{"text.add_tx(string:k)", "text.add_tx(string:^r)"} << 2 << 0;
    QTest::newRow("RXANDCLEAR in receive") << QStringList{} << "<RXANDCLEAR>"
                                           << QStringList{"main.get_trx_state()", "text.clear_tx()"} << 2 << 0;
    QTest::newRow("RXANDCLEAR while transmitting")
        << QStringList{"TX", "TX", "RX"} << "<RXANDCLEAR>"
        << QStringList{"main.get_trx_state()", "main.abort()", "main.get_trx_state()", "main.get_trx_state()",
                       "text.clear_tx()"} << 5 << 0;
    // An abort in fldigi's first moments of transmit can wedge it.
    QTest::newRow("a fresh transmission runs a moment before RXANDCLEAR") << QStringList{} << "<TX><RXANDCLEAR>"
        << QStringList{"main.tx()", "main.get_trx_state()", "main.get_trx_state()", "main.abort()",
                       "main.get_trx_state()", "text.clear_tx()"} << 6 << 150;
    // fldigi sets a rig mode after the request that asks for it: it is read again until it shows.
    QTest::newRow("a digital mode puts the rig in USB")
        << QStringList{} << "<MODE:AM><MODE:RTTY>"
        << QStringList{"modem.set_by_name(string:SSB)"} + andView("rig.set_mode(string:AM)") + viewReads
               + QStringList{"modem.set_by_name(string:RTTY)"} + andView("rig.set_mode(string:USB)") + viewReads
        << 6 << 0;
}

void TestFldigiBridge::macrosMapToCalls()
{
    QFETCH(QStringList, trxStates);
    QFETCH(QString, macro);
    QFETCH(QStringList, calls);
    QFETCH(int, requests);
    QFETCH(int, atLeastMs);
    fake->setTrxStates(trxStates);
    const Outcome outcome = run(this->macro(macro));
    QVERIFY2(!outcome.failure, qPrintable(outcome.failure ? outcome.failure->text : QString()));
    QVERIFY2(outcome.ms >= atLeastMs, qPrintable(QString::number(outcome.ms)));
    QCOMPARE(fake->calls(), calls);
    QCOMPARE(fake->requests(), requests); // each a round trip to a fldigi across a network
}

// Each of the panel's modes sets a modem fldigi has (the fake answers "No such modem" to any
// other name), with the rig mode it needs, or is refused unsent when fldigi has no counterpart.
void TestFldigiBridge::modeTable_data()
{
    QTest::addColumn<QString>("mode");
    for (const char *mode : contract::modes)
        QTest::newRow(mode) << QString(mode);
}

void TestFldigiBridge::modeTable()
{
    QFETCH(QString, mode);
    const Outcome outcome = run(macro("<AUDIOFQ:900><MODE:" + mode + ">"));
    QStringList calls = fake->calls().filter("set_");
    if (QStringList{"FSK31", "PACKET", "PACTOR", "SSTV"}.contains(mode)) {
        QVERIFY(calls.isEmpty());
        QVERIFY(outcome.failure && outcome.failure->text.startsWith("<MODE:" + mode + ">: fldigi has no mode "
                                                                     + mode + "; it has SSB, AM, FM, CW, BPSK31"));
        return;
    }
    QVERIFY2(!outcome.failure, qPrintable(outcome.failure ? outcome.failure->text : QString()));
    QCOMPARE(calls.takeFirst(), QStringLiteral("modem.set_carrier(int:900)"));
    QVERIFY(calls.value(0).startsWith("modem.set_by_name(string:"));
    const QString rigMode = mode == "AM" || mode == "FM" ? mode : "USB"; // SSB at 14 MHz: the upper sideband
    QCOMPARE(calls.value(1), "rig.set_mode(string:" + rigMode + ")");
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
    QVERIFY(!run(macro("<MODE:SSB>")).failure);
    const QStringList again = sideband == "USB" ? QStringList{} : viewReads; // the rig was in USB
    QCOMPARE(fake->calls(), QStringList({"modem.set_by_name(string:SSB)", "rig.get_frequency()",
                                         "rig.set_mode(string:" + sideband + ")"}) + viewReads + again);
}

// A failing step ends the call at once with its cause; the later steps are never sent.
void TestFldigiBridge::failures_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("cause");
    QTest::addColumn<QString>("text");
    using C = BridgeFailure::Cause;
    QTest::newRow("not running") << "gone" << int(C::NotRunning)
                                 << "<AUDIOFQ:1500>: fldigi is not running at http://127.0.0.1:";
    QTest::newRow("not answering") << "silent" << int(C::NotAnswering)
                                   << "<AUDIOFQ:1500>: no answer from fldigi at http://127.0.0.1:";
    QTest::newRow("HTTP status") << "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n"
                                 << int(C::HttpStatus) << "answered modem.set_carrier with \"HTTP/1.1 500";
    QTest::newRow("fault")
        << QString(http("<methodResponse><fault><value><struct><member><name>faultString</name><value>no "
                        "carrier</value></member></struct></value></fault></methodResponse>"))
        << int(C::Fault) << "<AUDIOFQ:1500>: fldigi refused modem.set_carrier: no carrier";
    QTest::newRow("no such modem") << "mode" << int(C::NotCarriedOut) << "<MODE:RTTY>: fldigi has no modem RTTY";
    QTest::newRow("a rig mode that never shows")
        << "rig lag" << int(C::NotCarriedOut)
        << "<MODE:AM>: fldigi did not show the rig mode AM within 1800 ms; it may still take effect";
}

void TestFldigiBridge::failures()
{
    QFETCH(QString, fault);
    QFETCH(int, cause);
    QFETCH(QString, text);
    QString macro = "<AUDIOFQ:1500><TX>";
    if (fault == "gone") {
        fake.reset();
    } else if (fault == "silent") {
        fake->setSilent(true);
    } else if (fault == "mode") {
        fake->answer("modem.set_by_name", "No such modem");
        macro = "<MODE:RTTY><TX>";
    } else if (fault == "rig lag") {
        fake->answer("rig.get_mode", "USB"); // the rig mode set never shows
        macro = "<MODE:AM><TX>";
    } else {
        fake->answerRaw("modem.set_carrier", fault.toLatin1());
    }
    const Outcome outcome = run(this->macro(macro));
    QVERIFY(outcome.failure);
    QCOMPARE(int(outcome.failure->cause), cause);
    QVERIFY2(outcome.failure->text.contains(text), qPrintable(outcome.failure->text));
    // At once, or at the 1800 ms deadline: not the panel's 2000, not a deadline counted twice.
    QVERIFY2(outcome.ms < (fault == "silent" || fault == "rig lag" ? 1950 : 650), qPrintable(QString::number(outcome.ms)));
    QTest::qWait(200);
    if (fake)
        QVERIFY(!fake->calls().contains("main.tx()"));
    QVERIFY2(errors.contains(outcome.failure->text), qPrintable(errors));
}

// What fldigi's XML-RPC server may send back, whole and a byte at a time.
void TestFldigiBridge::answersAreBoundedAndTyped_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<int>("expect");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("failure");
    using E = xmlrpc::Expect;
    QByteArray nested = "<i4>1</i4>";
    for (int i = 0; i < 100; ++i)
        nested = "<array><data><value>" + nested + "</value></data></array>";

    QTest::newRow("fldigi's own") << http("<?xml version=\"1.0\"?>\r\n<methodResponse><params><param>\r\n\t<value>"
                                          "<i4>1500</i4></value>\r\n</param></params></methodResponse>\r\n")
                                  << int(E::Int) << QVariant(1500) << "";
    const QByteArray body = response("<double>7074000.5</double>");
    QByteArray chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (const QByteArray &piece : {body.left(16), body.mid(16)})
        chunked += QByteArray::number(piece.size(), 16) + ";x=y\r\n" + piece + "\r\n";
    QTest::newRow("chunked") << chunked + "0\r\n\r\n" << int(E::Double) << QVariant(7074000.5) << "";
    QTest::newRow("until close") << "HTTP/1.0 200 OK\r\n\r\n" + response("MT63")
                                 << int(E::String) << QVariant("MT63") << "";
    QTest::newRow("boolean true") << http(response("<boolean>true</boolean>")) << int(E::Anything) << QVariant(true)
                                  << "";
    QTest::newRow("escaped text") << http(response("<string>a &amp; b</string>")) << int(E::String)
                                  << QVariant("a & b") << "";
    QTest::newRow("wrong type") << http(response("<string>1500</string>")) << int(E::Int) << QVariant()
                                << "an integer was expected, not a string";
    QTest::newRow("nested 100 deep") << http(response(nested)) << int(E::Anything) << QVariant()
                                     << "values nested deeper than fldigi answers";
    QTest::newRow("a body over 1 MiB") << "HTTP/1.1 200 OK\r\nContent-Length: 2000000\r\n\r\n" + response("x")
                                       << int(E::String) << QVariant() << "the answer is larger than 1 MiB";
    QTest::newRow("chunks over 1 MiB")
        << "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n80000\r\n" + QByteArray(0x80000, 'x')
               + "\r\n80001\r\n"
        << int(E::String) << QVariant() << "the answer is larger than 1 MiB";
    QTest::newRow("endless headers") << "HTTP/1.1 200 OK\r\n" + QByteArray("X-Pad: 0123456789\r\n").repeated(1000)
                                     << int(E::String) << QVariant() << "headers are longer than 16 KiB";
    QTest::newRow("a document type") << http("<!DOCTYPE m [<!ENTITY e \"x\">]>" + response("&e;")) << int(E::String)
                                     << QVariant() << "a document type or entity";
    QTest::newRow("not HTTP") << QByteArray("SSH-2.0-OpenSSH\r\n\r\n") << int(E::String) << QVariant()
                              << "not an HTTP answer";
    QTest::newRow("cut short") << "HTTP/1.1 200 OK\r\nContent-Length: 500\r\n\r\n" + response("x") << int(E::String)
                               << QVariant() << "the connection closed before the answer was complete";
}

void TestFldigiBridge::answersAreBoundedAndTyped()
{
    QFETCH(QByteArray, stream);
    QFETCH(int, expect);
    QFETCH(QVariant, value);
    QFETCH(QString, failure);
    auto outcome = [&](qsizetype piece) -> QVariant {
        HttpReply reply;
        for (qsizetype i = 0; i < stream.size() && reply.state() == HttpReply::State::Incomplete; i += piece)
            reply.feed(QByteArrayView(stream).sliced(i, qMin(piece, stream.size() - i)));
        if (reply.finish() != HttpReply::State::Complete)
            return reply.error();
        try {
            return xmlrpc::expect(xmlrpc::answer(reply.body()), xmlrpc::Expect(expect));
        } catch (const BridgeFailure &f) {
            return f.text;
        }
    };
    const QVariant whole = outcome(stream.size());
    QCOMPARE(outcome(1), whole);
    if (failure.isEmpty())
        QCOMPARE(whole, value);
    else
        QVERIFY2(whole.toString().contains(failure), qPrintable(whole.toString()));
}

// Each call is answered within its 1800 ms from its own arrival, whatever fldigi does, and
// nothing of it is sent to fldigi after its answer. A read does not wait behind a macro.
void TestFldigiBridge::everyCallWithinItsTime()
{
    QSignalSpy silenced(&bridge->presence, &Presence::silenced);
    fake->setDelay(1100);
    const auto steps = start(macro("<AUDIOFQ:1><AUDIOFQ:2><AUDIOFQ:3>"));
    QTest::qWait(80); // its turn comes with 80 ms left: too little to send a change
    const auto queued = start(macro("<ZFQ:1>"));
    const auto mode = start(read("Mode"));
    QTest::qWait(920);
    const auto later = start(macro("<ZFQ:7074>"));
    QVERIFY(QTest::qWaitFor([&] { return later->ms >= 0; }, 5000));
    QTest::qWait(1500);

    for (const auto &outcome : {steps, queued, later}) {
        QVERIFY(outcome->failure);
        QVERIFY2(outcome->ms >= (outcome == queued ? 1620 : 1750) && outcome->ms < 1950,
                 qPrintable(QString("%1 ms: %2").arg(outcome->ms).arg(outcome->failure->text)));
    }
    QVERIFY2(steps->failure->text.startsWith("<AUDIOFQ:2>: no answer"), qPrintable(steps->failure->text));
    QVERIFY2(queued->failure->text.contains("busy"), qPrintable(queued->failure->text));
    QVERIFY2(later->failure->text.startsWith("<ZFQ:7074>: no answer"), qPrintable(later->failure->text));
    QVERIFY2(!mode->failure && mode->ms < 1750, qPrintable(QString::number(mode->ms)));
    QCOMPARE(fake->calls().filter(".set_"), (QStringList{"modem.set_carrier(int:1)", "modem.set_carrier(int:2)",
                                                         "rig.set_frequency(double:7074000.000000)"}));
    QVERIFY2(silenced.isEmpty(), "a busy queue or a slow step taken for fldigi's silence"); // it answered meanwhile
}

// A call that failed after some of it went out is undone before anything else is carried out:
// one that asked to transmit or to receive leaves fldigi in receive, one whose text or
// <RXANDCLEAR> went out leaves no unsent text. A call that comes meanwhile waits within its time.
void TestFldigiBridge::failedCallIsUndone_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("macro");
    QTest::addColumn<QStringList>("trxStates"); // what the undo reads first
    QTest::addColumn<QStringList>("afterwards"); // the changes fldigi carried out after the failure, in order
    QTest::addColumn<QString>("said");           // in the failure's text
    const QString next = "modem.set_carrier(int:1200)"; // the call after it
    QTest::newRow("stopped, resumes and keys")
        << "stopped" << "<TX>" << QStringList{} << QStringList{"main.tx()", "main.abort()", next} << "no answer";
    QTest::newRow("keys after the undo found receive")
        << "stopped" << "<TX>" << QStringList{"RX", "RX", "RX"} << QStringList{"main.tx()", "main.abort()", next} << "";
    QTest::newRow("connections refused after main.tx was answered")
        << "refused" << "<TX>" << QStringList{} << QStringList{"main.abort()", next} << "tunnel";
    QTest::newRow("main.tx answered late: its text dropped")
        << "main.tx late" << "SECRET<TX>" << QStringList{} << QStringList{"main.abort()", "text.clear_tx()", next} << "";
    QTest::newRow("main.tx refused: its text dropped in receive")
        << "main.tx faults" << "SECRET<TX>" << QStringList{} << QStringList{"text.clear_tx()", next} << "busy";
    QTest::newRow("<RXANDCLEAR> after a <TX> that worked")
        << "stopped after <TX>" << "<RXANDCLEAR>" << QStringList{} << QStringList{"main.abort()", "text.clear_tx()", next} << "";
    QTest::newRow("nothing sent: nothing owed") << "refusing" << "SECRET<TX>" << QStringList{} << QStringList{next} << "not running";
    QTest::newRow("a change sent may still take effect")
        << "stopped" << "<AUDIOFQ:1234>" << QStringList{} << QStringList{"modem.set_carrier(int:1234)", next}
        << "it may still take effect";
    QTest::newRow("a call that came during the failing one, fldigi stays stopped")
        << "stays stopped" << "<TX>" << QStringList{} << QStringList{} << "";
    QTest::newRow("a call while fldigi stays refusing") << "stays refusing" << "<TX>" << QStringList{} << QStringList{} << "";
}

void TestFldigiBridge::failedCallIsUndone()
{
    QFETCH(QString, fault);
    QFETCH(QString, macro);
    QFETCH(QStringList, trxStates);
    QFETCH(QStringList, afterwards);
    QFETCH(QString, said);
    if (fault == "stopped after <TX>")
        QVERIFY(!run(this->macro("<TX>")).failure);
    if (fault.contains("refused"))
        fake->refuseAfter("main.tx");
    else if (fault == "refusing")
        fake->setRefusing(true);
    else if (fault == "main.tx late")
        fake->setDelay(2500, "main.tx");
    else if (fault == "main.tx faults")
        fake->fault("main.tx", "busy");
    else
        fake->setSilent(true);
    qsizetype carriedBefore = -1; // what fldigi had carried out by the failure reply
    const auto failed = start([&](BridgeDone done) {
        bridge->runner.executeMacros(macro, [&, done](const QVariant &value, const BridgeFailure *failure) {
            carriedBefore = fake->carriedOut().size();
            done(value, failure);
        });
    });
    if (fault == "stays stopped")
        QTest::qWait(1000);
    else
        QTRY_VERIFY_WITH_TIMEOUT(failed->ms >= 0, 5000);
    if (fault.startsWith("stays")) {
        const Outcome next = run(this->macro("<AUDIOFQ:1200>"));
        QVERIFY(next.failure);
        QVERIFY2(next.failure->cause == BridgeFailure::Cause::UndoOwed && next.failure->text.contains("may still be transmitting"),
                 qPrintable(next.failure->text));
        QVERIFY2(next.ms < 1950, qPrintable(QString::number(next.ms))); // from its own arrival
        QVERIFY(!fake->calls().contains("modem.set_carrier(int:1200)"));
    }
    QVERIFY(failed->failure);
    QVERIFY2(failed->failure->text.contains(said), qPrintable(failed->failure->text));
    if (fault.startsWith("stays"))
        return;
    fake->setTrxStates(trxStates);
    fake->setRefusing(false);
    fake->setSilent(false); // carries out what it was sent
    const bool owesReceive = fault != "refusing" && (macro.contains("<TX>") || macro.contains("<RX"));
    if (owesReceive) // receive is watched for a second before the next call runs
        QTRY_VERIFY_WITH_TIMEOUT(errors.contains("is in receive after the call that failed"), 5000);
    QCOMPARE(errors.contains("may be transmitting after a call that failed"), owesReceive);
    const Outcome next = run(this->macro("<AUDIOFQ:1200>"));
    QVERIFY2(!next.failure, qPrintable(next.failure ? next.failure->text : QString()));
    QCOMPARE(fake->trxState(), QStringLiteral("RX"));
    QStringList changes;
    for (const FakeFldigi::CarriedOut &c : fake->carriedOut().mid(carriedBefore)) {
        if (!c.call.contains(".get_"))
            changes << c.call;
    }
    QCOMPARE(changes, afterwards);
}

// A read that had all of its time says fldigi has gone only when nothing else was answered
// meanwhile: the name is kept while fldigi answers the calls.
void TestFldigiBridge::silenceIsFldigisOwn()
{
    QSignalSpy silenced(&bridge->presence, &Presence::silenced);
    fake->setDelay(2500, "modem.get_carrier"); // the view's reads stall, the calls are answered
    const auto stuck = start(read("AudioFq"));
    while (stuck->ms < 0) {
        QVERIFY(!run(macro("<CLEARRXWINDOW>")).failure);
        QTest::qWait(100);
    }
    QVERIFY(stuck->failure);
    QVERIFY2(silenced.isEmpty(), "a read that had all of its time taken for fldigi's silence");
}

void TestFldigiBridge::oneConnectionForManyCalls()
{
    for (int i = 0; i < 100; ++i)
        QVERIFY(!run(macro("<CLEARRXWINDOW>")).failure);
    QCOMPARE(fake->connections(), 1);
    fake->dropConnections();
    QTest::qWait(50);
    QVERIFY(!run(macro("<CLEARRXWINDOW>")).failure); // reopened
    QCOMPARE(fake->connections(), 2);
}

// On a terminal each line names the program; in the journal it carries its priority instead,
// and a line break in a text (fldigi's fault text) never starts a line of its own.
void TestFldigiBridge::logLines_data()
{
    QTest::addColumn<QByteArray>("journalStream");
    QTest::addColumn<QString>("lines");
    struct stat err = {};
    QVERIFY(fstat(STDERR_FILENO, &err) == 0);
    QTemporaryFile other;
    QVERIFY(other.open());
    struct stat file = {};
    QVERIFY(fstat(int(other.handle()), &file) == 0);
    auto stream = [](const struct stat &s) { return QByteArray::number(qulonglong(s.st_dev)) + ':' + QByteArray::number(qulonglong(s.st_ino)); };

    const QString terminal = "palvo2-fldigi: refused: x\\n<0>y\npalvo2-fldigi: skipped\npalvo2-fldigi: found\n";
    QTest::newRow("stderr is the journal") << stream(err) << "<3>refused: x\\n<0>y\n<4>skipped\n<6>found\n";
    QTest::newRow("the journal's stream, stderr elsewhere") << stream(file) << terminal;
    QTest::newRow("no journal") << QByteArray() << terminal;
    QTest::newRow("not a stream") << QByteArray("journal") << terminal;
}

void TestFldigiBridge::logLines()
{
    QFETCH(QByteArray, journalStream);
    QFETCH(QString, lines);
    const QByteArray saved = qgetenv("JOURNAL_STREAM");
    qputenv("JOURNAL_STREAM", journalStream);
    QString said;
    QTextStream stream(&said);
    BridgeLog log(stream, "palvo2-fldigi");
    qputenv("JOURNAL_STREAM", saved);
    log.error("refused: x\n<0>y");
    log.warning("skipped");
    log.info("found");
    QCOMPARE(said, lines);
}

// A read is answered from a view younger than a second; an older view, or none after a
// failure, is refreshed first; a method that faults in the view fails its property alone.
void TestFldigiBridge::viewAnswersReads_data()
{
    QTest::addColumn<QString>("between"); // what happens between a first read and a second
    QTest::addColumn<QString>("read");
    QTest::addColumn<QVariant>("value");  // the second read's, or its failure's text
    QTest::addColumn<int>("requests");
    QTest::newRow("a fresh view") << "" << "AudioFq" << QVariant(1500) << 1;
    QTest::newRow("a view older than a second") << "wait" << "AudioFq" << QVariant(1600) << 2;
    QTest::newRow("after a failed refresh") << "refresh fails" << "AudioFq" << QVariant(1600) << 3;
    QTest::newRow("after a macro failed part-way") << "macro fails" << "AudioFq" << QVariant(1600) << 4;
    QTest::newRow("a method that faults")
        << "rig faults" << "FqA" << QVariant("FqA: fldigi refused rig.get_frequency: no rig") << 2;
    QTest::newRow("the others still read") << "rig faults" << "Mode" << QVariant("BPSK31") << 2;
}

void TestFldigiBridge::viewAnswersReads()
{
    QFETCH(QString, between);
    QFETCH(QString, read);
    QFETCH(QVariant, value);
    QFETCH(int, requests);
    QCOMPARE(run(this->read("AudioFq")).value, QVariant(1500));
    if (between == "wait") {
        QTest::qWait(1100);
    } else if (between == "refresh fails") {
        QTest::qWait(300); // old enough that a read refreshes the view for the next
        fake->answerRaw("modem.get_carrier", "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n");
        run(this->read("FqA"));
        QTRY_COMPARE(fake->requests(), 2);
        QTest::qWait(300); // its answer comes back; the view is still younger than a second after
        fake->answerRaw("modem.get_carrier", {});
    } else if (between == "macro fails") {
        fake->fault("text.add_tx", "busy");
        QVERIFY(run(macro("<AUDIOFQ:1700>x")).failure);
    } else if (between == "rig faults") {
        fake->fault("rig.get_frequency", "no rig");
        QTest::qWait(1100);
    }
    fake->answer("modem.get_carrier", "<i4>1600</i4>"); // fldigi changed meanwhile
    const Outcome second = run(this->read(read));
    QCOMPARE(second.failure ? QVariant(second.failure->text) : second.value, value);
    QCOMPARE(fake->requests(), requests);
}

// A panel reading three values at every tick never waits for fldigi, even 300 ms away: one
// refresh at most for each of its ticks. With no reader, fldigi is read about once each idleMs.
// The timing is the bridge's own divided by 2.5: ticks of 200 ms, fldigi 60 ms away.
void TestFldigiBridge::refreshesKeepTheirRate()
{
    bridge = std::make_unique<FldigiBridge>(
        fakeUrl(), log, FldigiBridge::Timing{.view = {.freshMs = 400, .aheadMs = 100, .idleMs = 400}});
    fake->setDelay(60);
    qint64 longest = 0;
    const int ticks = 10;
    for (int tick = 0; tick < ticks; ++tick) {
        for (const char *name : {"AudioFq", "FqA", "Mode"}) {
            const Outcome outcome = run(read(name));
            QVERIFY(!outcome.failure);
            if (tick > 0) // the first read after a quiet spell may wait for one refresh
                longest = qMax(longest, outcome.ms);
        }
        QTest::qWait(200);
    }
    QVERIFY2(longest < 40, qPrintable(QString::number(longest)));
    const int polled = fake->requests();
    QVERIFY2(polled <= ticks + 2, qPrintable(QString::number(polled))); // room for a busy machine's late ticks

    bridge->view.start();
    QTest::qWait(1600);
    const int idle = fake->requests() - polled;
    QVERIFY2(idle >= 3 && idle <= 5, qPrintable(QString::number(idle)));
}

// A read that arrives after a macro's reply shows what it set, answered at once from the view, and the
// change is announced before the reply. A refresh read before the change and answered after
// it does not bring the old values back.
void TestFldigiBridge::readYourWrites_data()
{
    QTest::addColumn<QString>("macro");
    QTest::addColumn<QVariantMap>("shown");
    QTest::addColumn<bool>("refreshInFlight");
    QTest::newRow("audio") << "<AUDIOFQ:1234>" << QVariantMap{{"AudioFq", 1234}} << false;
    QTest::newRow("rig") << "<ZFQ:7074>" << QVariantMap{{"FqA", 7074000.0}} << false;
    QTest::newRow("mode, carrier reset") << "<AUDIOFQ:900><MODE:RTTY>" << QVariantMap{{"AudioFq", 1500}, {"Mode", "RTTY"}}
                                         << false;
    QTest::newRow("AM") << "<MODE:AM>" << QVariantMap{{"Mode", "AM"}} << false;
    QTest::newRow("a refresh answered after the change") << "<AUDIOFQ:1234>" << QVariantMap{{"AudioFq", 1234}} << true;
}

void TestFldigiBridge::readYourWrites()
{
    QFETCH(QString, macro);
    QFETCH(QVariantMap, shown);
    QFETCH(bool, refreshInFlight);
    QVERIFY(!run(readAll()).failure);
    if (refreshInFlight) { // fldigi reads before the set, and its answer comes after the macro's
        fake->setDelay(400, "modem.get_carrier");
        QTest::qWait(300);
        QVERIFY(!run(readAll()).failure);
    }
    QSignalSpy announced(&bridge->view, &BridgeView::valuesChanged);
    QVariantMap announcedBeforeReply;
    QVERIFY(!run([&](BridgeDone done) {
                bridge->runner.executeMacros(macro, [&, done](const QVariant &result, const BridgeFailure *failure) {
                    for (const QList<QVariant> &signal : std::as_const(announced))
                        announcedBeforeReply.insert(signal[0].toMap());
                    done(result, failure);
                });
            }).failure);
    if (refreshInFlight)
        QTest::qWait(500);
    // Before the event loop runs again: no round trip (a refresh it sends for the next read may follow).
    const auto read = start(readAll());
    QVERIFY(read->ms >= 0);
    const QVariantMap after = read->value.toMap();
    for (auto it = shown.cbegin(); it != shown.cend(); ++it) {
        QCOMPARE(after.value(it.key()), it.value());
        QCOMPARE(announcedBeforeReply.value(it.key()), it.value());
    }
}

// A kept connection that fldigi closed costs nothing: a close seen before a request costs a
// new connection; a request that crosses the close is sent again when it only reads, and fails,
// sent once, when it may change fldigi.
void TestFldigiBridge::closedConnections_data()
{
    QTest::addColumn<QString>("request");
    QTest::addColumn<QString>("close"); // "after each answer", "while idle", or the requests that cross a close
    QTest::addColumn<QString>("failure");
    QTest::addColumn<int>("received"); // times fldigi took in the last request
    QTest::newRow("reads, closed after each answer") << "read" << "after each answer" << "" << 1;
    QTest::newRow("refreshes, closed after each answer") << "refresh" << "after each answer" << "" << 1;
    QTest::newRow("changes one after another, closed after each answer") << "sets" << "after each answer" << "" << 10;
    QTest::newRow("changes one after another, answers framed by the close") << "sets" << "framed" << "" << 10;
    QTest::newRow("a set after an idle connection closed") << "set" << "while idle" << "" << 1;
    QTest::newRow("a read crossing a close") << "read" << "1" << "" << 2;
    QTest::newRow("a refresh crossing a close") << "refresh" << "1" << "" << 2;
    QTest::newRow("a set crossing a close")
        << "set" << "1" << "closed the kept connection as modem.set_carrier went out; it was not sent again" << 1;
    QTest::newRow("a set and read crossing a close")
        << "set and read" << "1" << "closed the kept connection as modem.set_carrier went out" << 1;
    QTest::newRow("a read that hands out data, crossing a close")
        << "data read" << "1" << "closed the kept connection as rx.get_data went out" << 1;
}

void TestFldigiBridge::closedConnections()
{
    QFETCH(QString, request);
    QFETCH(QString, close);
    QFETCH(QString, failure);
    QFETCH(int, received);
    using Request = FldigiClient::Request;
    const QList<xmlrpc::Call> sets{{"modem.set_carrier", {1234}}};
    const QList<xmlrpc::Call> reads{{"modem.get_carrier"}, {"rig.get_frequency"}, {"modem.get_name"}, {"rig.get_mode"}};
    const QHash<QString, Request> requests{
        {"read", Request::call("modem.get_carrier", {}, xmlrpc::Expect::Int)},
        {"refresh", Request::multicall(reads, "system.multicall")},
        {"set", Request::call("modem.set_carrier", {1234}, xmlrpc::Expect::Anything)},
        {"set and read", Request::multicall(sets + reads, "modem.set_carrier")},
        {"data read", Request::call("rx.get_data", {}, xmlrpc::Expect::Anything)}};
    auto send = [&](const Request &r) {
        return run([&](BridgeDone done) {
            bridge->callConnection.call(r, [done](const QVariant &v) { done(v, nullptr); },
                             [done](const BridgeFailure &f) { done({}, &f); });
        });
    };
    const bool afterEach = close == "after each answer";
    fake->setCloseAfterAnswer(afterEach);
    fake->setCloseFramed(close == "framed");
    QVERIFY(!send(requests["read"]).failure);
    const qsizetype before = fake->calls().size();
    if (close == "while idle") {
        fake->closeConnections();
        QThread::msleep(100); // the close has come, and the event loop has not seen it
    }
    fake->closeOnRequests(close.toInt());
    // Each the moment the one before is answered, as a macro's steps go.
    std::function<void(int, BridgeDone)> setInTurn = [&](int left, BridgeDone done) {
        bridge->callConnection.call(requests["set"], [&, left, done](const QVariant &v) {
            left > 1 ? setInTurn(left - 1, done) : done(v, nullptr);
        }, [done](const BridgeFailure &f) { done({}, &f); });
    };
    const Outcome last = request == "sets" ? run([&](BridgeDone done) { setInTurn(10, done); })
                                           : send(requests[request]);
    if (failure.isEmpty())
        QVERIFY2(!last.failure, qPrintable(last.failure ? last.failure->text : QString()));
    else
        QVERIFY2(last.failure && last.failure->text.contains(failure), qPrintable(last.failure ? last.failure->text : "none"));
    const QString method = request.startsWith("set") ? "modem.set_carrier"
                           : request == "data read" ? "rx.get_data" : "modem.get_carrier";
    if (!afterEach || request == "sets") // a read after each answer may cross a close, and be sent again
        QCOMPARE(int(fake->calls().mid(before).filter(method).size()), received);
}

QTEST_GUILESS_MAIN(TestFldigiBridge)
#include "tst_fldigibridge.moc"
