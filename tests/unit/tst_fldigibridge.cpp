// SPDX-License-Identifier: GPL-3.0-or-later
#include "bridgelog.h"
#include "fakefldigi.h"
#include "fldigiclient.h"
#include "fldigihost.h"
#include "httpreply.h"

#include <QElapsedTimer>
#include <QTemporaryFile>
#include <QTest>
#include <QTextStream>

#include <optional>

#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Outcome
{
    QVariant value;
    std::optional<BridgeFailure> failure;
    qint64 ms = -1; // from the call to its answer
};

using Call = std::function<void(FldigiHost::Done)>;

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
    void failedTransmitIsUndone();
    void oneConnectionForManyReads();
    void logLines_data();
    void logLines();

private:
    std::shared_ptr<Outcome> start(const Call &call);
    Outcome run(const Call &call);
    Call macro(const QString &text) { return [=, this](FldigiHost::Done done) { host->executeMacros(text, done); }; }
    Call read(const QString &name) { return [=, this](FldigiHost::Done done) { host->read(name, done); }; }

    std::unique_ptr<FakeFldigi> fake;
    std::unique_ptr<FldigiClient> client;
    QString errors;
    QTextStream errorStream{&errors};
    BridgeLog log{errorStream, false};
    std::unique_ptr<FldigiHost> host;
};

void TestFldigiBridge::init()
{
    fake = std::make_unique<FakeFldigi>();
    client = std::make_unique<FldigiClient>(QUrl(QString("http://127.0.0.1:%1/RPC2").arg(fake->port())));
    errors.clear();
    host = std::make_unique<FldigiHost>(*client, log, FldigiHost::Timing{.unkeyRetryMs = 100});
}

void TestFldigiBridge::cleanup()
{
    host.reset();
    client.reset();
    fake.reset();
}

std::shared_ptr<Outcome> TestFldigiBridge::start(const Call &call)
{
    auto outcome = std::make_shared<Outcome>();
    QElapsedTimer clock;
    clock.start();
    call([outcome, clock](const QVariant &value, const BridgeFailure *failure) {
        outcome->value = value;
        if (failure)
            outcome->failure = *failure;
        outcome->ms = clock.elapsed();
    });
    return outcome;
}

Outcome TestFldigiBridge::run(const Call &call)
{
    const auto outcome = start(call);
    static_cast<void>(QTest::qWaitFor([&] { return outcome->ms >= 0; }, 10000)); // else ms stays -1
    return *outcome;
}

void TestFldigiBridge::reads()
{
    const Outcome audio = run(read("AudioFq"));
    QCOMPARE(audio.value.metaType(), QMetaType::fromType<int>());
    QCOMPARE(audio.value.toInt(), 1500);
    QCOMPARE(run(read("FqA")).value, QVariant(14070000.0));
    QCOMPARE(run(read("Mode")).value, QVariant(QStringLiteral("BPSK31")));
    QCOMPARE(run([this](FldigiHost::Done done) { host->readAll(done); }).value,
             QVariant(QVariantMap{{"AudioFq", 1500}, {"FqA", 14070000.0}, {"Mode", "BPSK31"}}));
    QCOMPARE(fake->calls(), (QStringList{"modem.get_carrier()", "rig.get_frequency()", "modem.get_name()",
                                         "modem.get_carrier()", "rig.get_frequency()", "modem.get_name()"}));
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

void TestFldigiBridge::macrosMapToCalls_data()
{
    QTest::addColumn<QStringList>("trxStates");
    QTest::addColumn<QString>("macro");
    QTest::addColumn<QStringList>("calls");
    QTest::newRow("frequencies, text, clears; bad tags skipped")
        << QStringList{} << "<AUDIOFQ: 1234 ><ZFQ:7074.15>CQ de me<CLEARTXWINDOW><CLEARRXWINDOW><AUDIOFQ:12.5><NOPE>"
        << QStringList{"modem.set_carrier(int:1234)", "rig.set_frequency(double:7074150.000000)",
                       "text.add_tx(string:CQ de me)", "text.clear_tx()", "text.clear_rx()"};
    QTest::newRow("TX waits for transmit") << QStringList{"RX", "TX"} << "<TX>"
                                           << QStringList{"main.tx()", "main.get_trx_state()", "main.get_trx_state()"};
    QTest::newRow("RX after the text") << QStringList{} << "k<RX>"
                                       << QStringList{"text.add_tx(string:k)", "text.add_tx(string:^r)"};
    QTest::newRow("RXANDCLEAR in receive") << QStringList{} << "<RXANDCLEAR>"
                                           << QStringList{"main.get_trx_state()", "text.clear_tx()"};
    QTest::newRow("RXANDCLEAR while transmitting")
        << QStringList{"TX", "TX", "RX"} << "<RXANDCLEAR>"
        << QStringList{"main.get_trx_state()", "main.abort()", "main.get_trx_state()", "main.get_trx_state()",
                       "text.clear_tx()"};
    QTest::newRow("a digital mode puts the rig in USB")
        << QStringList{} << "<MODE:AM><MODE:RTTY>"
        << QStringList{"modem.set_by_name(string:SSB)", "rig.set_mode(string:AM)", "modem.set_by_name(string:RTTY)",
                       "rig.set_mode(string:USB)"};
}

void TestFldigiBridge::macrosMapToCalls()
{
    QFETCH(QStringList, trxStates);
    QFETCH(QString, macro);
    QFETCH(QStringList, calls);
    fake->setTrxStates(trxStates);
    const Outcome outcome = run(this->macro(macro));
    QVERIFY2(!outcome.failure, qPrintable(outcome.failure ? outcome.failure->text : QString()));
    QCOMPARE(fake->calls(), calls);
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
    QVERIFY(!run(macro("<MODE:" + mode + ">")).failure);
    const QStringList calls = fake->calls();
    if (modem.isEmpty()) {
        QVERIFY(calls.isEmpty());
        QVERIFY(errors.contains("has no such mode"));
    } else {
        QCOMPARE(calls.value(0), "modem.set_by_name(string:" + modem + ")");
        if (mode == "AM" || mode == "FM")
            QCOMPARE(calls.value(1), "rig.set_mode(string:" + mode + ")");
        else if (mode != "SSB")
            QCOMPARE(calls.value(1), QStringLiteral("rig.set_mode(string:USB)"));
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
    QVERIFY(!run(macro("<MODE:SSB>")).failure);
    QCOMPARE(fake->calls(), (QStringList{"modem.set_by_name(string:SSB)", "rig.get_frequency()",
                                         "rig.set_mode(string:" + sideband + ")"}));
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
    } else {
        fake->answerRaw("modem.set_carrier", fault.toLatin1());
    }
    const Outcome outcome = run(this->macro(macro));
    QVERIFY(outcome.failure);
    QCOMPARE(int(outcome.failure->cause), cause);
    QVERIFY2(outcome.failure->text.contains(text), qPrintable(outcome.failure->text));
    // At once, or at the 1800 ms deadline: not the panel's 2000, not a deadline counted twice.
    QVERIFY2(outcome.ms < (fault == "silent" ? 1950 : 650), qPrintable(QString::number(outcome.ms)));
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
// nothing of it is sent to fldigi after its answer.
void TestFldigiBridge::everyCallWithinItsTime()
{
    fake->setDelay(1100);
    fake->answer("modem.get_name", "SSB"); // a Mode read needs two calls
    const auto steps = start(macro("<AUDIOFQ:1><AUDIOFQ:2><AUDIOFQ:3>"));
    const auto mode = start(read("Mode"));
    QTest::qWait(1000);
    const auto rig = start(read("FqA"));
    QVERIFY(QTest::qWaitFor([&] { return rig->ms >= 0; }, 5000));
    QTest::qWait(1500);

    for (const auto &outcome : {steps, mode, rig}) {
        QVERIFY(outcome->failure);
        QVERIFY2(outcome->ms >= 1750 && outcome->ms < 1950,
                 qPrintable(QString("%1 ms: %2").arg(outcome->ms).arg(outcome->failure->text)));
    }
    QVERIFY2(steps->failure->text.startsWith("<AUDIOFQ:2>: no answer"), qPrintable(steps->failure->text));
    QVERIFY2(mode->failure->text.contains("busy"), qPrintable(mode->failure->text));
    QCOMPARE(fake->calls(), (QStringList{"modem.set_carrier(int:1)", "modem.set_carrier(int:2)", "rig.get_frequency()"}));
}

// A <TX> to a stopped fldigi fails; when fldigi resumes and keys, it is put back to receive
// before the next call is carried out.
void TestFldigiBridge::failedTransmitIsUndone()
{
    fake->setSilent(true);
    const Outcome tx = run(macro("<TX>"));
    QVERIFY(tx.failure);
    QVERIFY(errors.contains("fldigi may have started transmitting"));

    fake->setSilent(false); // carries out the main.tx it was sent
    const Outcome after = run(read("AudioFq"));
    QCOMPARE(after.value, QVariant(1500));
    QCOMPARE(fake->trxState(), QStringLiteral("RX"));
    const QStringList calls = fake->calls();
    QVERIFY2(calls.indexOf("main.abort()") > calls.indexOf("main.tx()")
                 && calls.indexOf("main.abort()") < calls.lastIndexOf("modem.get_carrier()"),
             qPrintable(calls.join(' ')));
    QVERIFY2(errors.contains("put back to receive (main.abort)"), qPrintable(errors));
}

void TestFldigiBridge::oneConnectionForManyReads()
{
    for (int i = 0; i < 100; ++i)
        QCOMPARE(run(read("AudioFq")).value, QVariant(1500));
    QCOMPARE(fake->connections(), 1);
    fake->dropConnections();
    QTest::qWait(50);
    QCOMPARE(run(read("AudioFq")).value, QVariant(1500)); // reopened
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
    BridgeLog log(stream);
    qputenv("JOURNAL_STREAM", saved);
    log.error("refused: x\n<0>y");
    log.warning("skipped");
    log.info("found");
    QCOMPARE(said, lines);
}

QTEST_GUILESS_MAIN(TestFldigiBridge)
#include "tst_fldigibridge.moc"
