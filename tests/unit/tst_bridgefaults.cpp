// SPDX-License-Identifier: GPL-3.0-or-later
#include "bridgelog.h"
#include "fakefldigi.h"
#include "fldigibridge.h"

#include <QJsonDocument>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>
#include <QTextStream>

#include <functional>

// The bridge against a fake fldigi whose link fails at random, with readers and senders of
// macros at once; afterwards the fake's record is held against the bridge's promises. A run is
// named by the number its random draws start from: PALVO_FAULT_CASE runs that one alone, and
// PALVO_FAULT_SECONDS sets how long each runs (5 s for each of a fixed list otherwise).
class TestBridgeFaults : public QObject
{
    Q_OBJECT

private slots:
    void promisesHold_data();
    void promisesHold();
};

namespace {

constexpr int callMs = 1800;
constexpr int roomMs = 150; // a busy machine, the sanitizers

struct Fault
{
    qint64 fromMs, untilMs;
    QString what;
};

// What a read shows of a state of the fake.
QVariantMap shown(const FakeFldigi::State &s)
{
    QString mode = s.modem;
    if (mode == u"SSB" || mode == u"NULL")
        mode = s.rigMode == u"USB" || s.rigMode == u"LSB" ? QStringLiteral("SSB") : s.rigMode;
    return {{"AudioFq", s.carrier}, {"FqA", s.frequency}, {"Mode", mode}};
}

// Whether fldigi showed these values at some moment from fromMs to toMs.
bool hadWithin(const QList<FakeFldigi::State> &history, const QVariantMap &values, qint64 fromMs, qint64 toMs)
{
    for (qsizetype i = 0; i < history.size(); ++i) {
        const bool overlaps = history[i].sinceMs <= toMs && (i + 1 == history.size() || history[i + 1].sinceMs >= fromMs);
        if (overlaps && shown(history[i]) == values)
            return true;
    }
    return false;
}

} // namespace

void TestBridgeFaults::promisesHold_data()
{
    QTest::addColumn<quint32>("number");
    const QByteArray given = qgetenv("PALVO_FAULT_CASE");
    for (const quint32 number : given.isEmpty() ? QList<quint32>{4, 6, 7, 8} : QList<quint32>{given.toUInt()})
        QTest::addRow("case %u", number) << number;
}

void TestBridgeFaults::promisesHold()
{
    QFETCH(quint32, number);
    const int seconds = qEnvironmentVariableIntValue("PALVO_FAULT_SECONDS");
    QRandomGenerator random(number);
    FakeFldigi fake;
    QString said;
    QTextStream saidStream(&said);
    BridgeLog log(saidStream, "palvo2-fldigi", false);
    FldigiBridge bridge(QUrl(QString("http://127.0.0.1:%1/RPC2").arg(fake.port())), log,
                        {.callMs = callMs, .undoRetryMs = 200});
    QList<qint64> silencedAt;
    connect(&bridge.presence, &Presence::silenced, this, [&] { silencedAt.append(FakeFldigi::nowMs()); });
    bridge.view.start();

    QList<Fault> faults;
    QStringList violations;
    auto violation = [&](qint64 atMs, const QString &what) {
        QStringList around;
        for (const Fault &f : std::as_const(faults)) {
            if (f.untilMs > atMs - 3000 && f.fromMs < atMs + 1000)
                around << QString("%1 from %2 to %3 ms").arg(f.what).arg(f.fromMs - atMs).arg(f.untilMs - atMs);
        }
        violations << QString("case %1: %2; the faults around it: %3").arg(number).arg(what, around.join(", "));
    };

    bool running = true;
    int pending = 0;
    using Answered = std::function<void(const QVariant &, const BridgeFailure *, qint64 atMs)>;
    // Every call is answered within its time.
    auto call = [&](const std::function<void(BridgeDone)> &make, Answered answered) {
        const qint64 sent = FakeFldigi::nowMs();
        ++pending;
        make([&, sent, answered](const QVariant &value, const BridgeFailure *failure) {
            --pending;
            const qint64 at = FakeFldigi::nowMs();
            if (at - sent > callMs + roomMs)
                violation(at, QString("a call answered %1 ms after it came").arg(at - sent));
            answered(value, failure, at);
        });
    };
    auto macro = [&](const QString &text) { return [&, text](BridgeDone done) { bridge.runner.executeMacros(text, done); }; };
    auto later = [&](int fromMs, int toMs, const std::function<void()> &then) {
        QTimer::singleShot(random.bounded(fromMs, toMs), this, [&running, then] {
            if (running)
                then();
        });
    };

    // Readers, each a panel or a script: every read shows a state fldigi had within the second
    // before it was answered.
    int reads = 0;
    std::function<void()> reader = [&] {
        call([&](BridgeDone done) { bridge.view.readAll(done); }, [&](const QVariant &values, const BridgeFailure *failure, qint64 at) {
            reads += failure ? 0 : 1;
            if (!failure && !hadWithin(fake.history(), values.toMap(), at - 1000, at))
                violation(at, QString("read %1, which fldigi did not show in the second before")
                                  .arg(QString::fromUtf8(QJsonDocument::fromVariant(values).toJson(QJsonDocument::Compact))));
            later(50, 300, reader);
        });
    };

    // Senders of changes, each value never sent before; an audio frequency set is read back.
    int changes = 0;
    std::function<void()> sender = [&] {
        const int n = ++changes;
        const int kind = random.bounded(4);
        const QString text = kind == 0 ? QString("<AUDIOFQ:%1>").arg(100 + n)
                             : kind == 1 ? QString("<ZFQ:%1>").arg(7000 + n * 0.001, 0, 'f', 3)
                             : kind == 2 ? QString("<MODE:%1>").arg(QStringList{"RTTY", "BPSK31", "CW", "AM"}[random.bounded(4)])
                                         : QStringLiteral("<CLEARRXWINDOW>");
        call(macro(text), [&, n, kind](const QVariant &, const BridgeFailure *failure, qint64) {
            if (failure || kind != 0)
                return later(50, 400, sender);
            call([&](BridgeDone done) { bridge.view.read("AudioFq", done); }, [&, n](const QVariant &value, const BridgeFailure *failure, qint64 at) {
                // Unless fldigi showed another carrier after this one, before the read.
                const QList<FakeFldigi::State> history = fake.history();
                const auto set = std::find_if(history.crbegin(), history.crend(), [n](const auto &s) { return s.carrier == 100 + n; });
                const bool changedSince = set != history.crend() && set != history.crbegin();
                if (!failure && value.toInt() != 100 + n && !changedSince)
                    violation(at, QString("<AUDIOFQ:%1> was read back as %2").arg(100 + n).arg(value.toInt()));
                later(50, 400, sender);
            });
        });
    };

    // One transmitting client: a text that names the call, then <TX>; <RXANDCLEAR> after one that worked.
    QHash<QString, bool> transmitFailed; // by the text
    int transmissions = 0;
    std::function<void()> transmitter = [&] {
        const QString name = QString("tx%1").arg(++transmissions);
        call(macro(name + "<TX>"), [&, name](const QVariant &, const BridgeFailure *failure, qint64) {
            transmitFailed[name] = failure;
            if (failure)
                return later(20, 200, transmitter);
            call(macro("<RXANDCLEAR>"), [&](const QVariant &, const BridgeFailure *, qint64) { later(20, 200, transmitter); });
        });
    };

    // One fault at a time on the link, or at fldigi: each starts, and says how long it lasts.
    auto lasting = [&] { return int(random.bounded(200, 1200)); };
    const QList<QPair<QString, std::function<int()>>> kinds = {
        {"answers late", [&] { fake.setDelay(random.bounded(1, 400)); return lasting(); }},
        {"stalls past the call's time", [&] { fake.setSilent(true); return int(random.bounded(callMs, callMs + 1000)); }},
        {"answers main.tx after the call gave up", [&] { // carried out at once
             fake.setDelay(random.bounded(callMs + 100, callMs + 600), "main.tx");
             return lasting();
         }},
        {"closes after each answer", [&] { fake.setCloseAfterAnswer(true); return lasting(); }},
        {"closes as requests come", [&] { fake.closeOnRequests(random.bounded(1, 4)); return lasting(); }},
        {"closes in the middle of its answers", [&] { fake.setHalfAnswers(true); return lasting(); }},
        {"resets its connections", [&] { fake.dropConnections(); return 0; }},
        {"refuses connections", [&] { fake.setRefusing(true); return lasting(); }},
        {"restarts", [&] { fake.setRefusing(true); fake.resetState(); return lasting(); }},
        {"the operator changes the carrier", [&] { fake.operatorSetsCarrier(random.bounded(2500, 2900)); return 0; }},
    };
    auto endFaults = [&] {
        fake.setDelay(0);
        fake.setSilent(false);
        fake.setCloseAfterAnswer(false);
        fake.closeOnRequests(0);
        fake.setHalfAnswers(false);
        fake.setRefusing(false);
    };
    std::function<void()> fault = [&] {
        const auto &[what, start] = kinds[random.bounded(int(kinds.size()))];
        const qint64 from = FakeFldigi::nowMs();
        const int forMs = start();
        faults.append({from, from + forMs, what});
        QTimer::singleShot(forMs, this, [&] {
            endFaults();
            later(50, 400, fault);
        });
    };

    for (int i = 0; i < 3; ++i)
        reader();
    sender();
    sender();
    transmitter();
    later(200, 400, fault);
    QTest::qWait(1000 * (seconds > 0 ? seconds : 5));
    running = false;
    QTRY_VERIFY_WITH_TIMEOUT(pending == 0, 2 * callMs + 3000); // the last fault ends, the calls drain
    const qint64 endedMs = FakeFldigi::nowMs();
    QVERIFY2(reads > 0 && !faults.isEmpty() && changes > 2, "nothing was tried");
    // No change reaches fldigi twice.
    const QStringList taken = fake.calls();
    for (const QString &change : taken.filter(QRegularExpression("^(modem.set_carrier|rig.set_frequency|text.add_tx)"))) {
        if (taken.count(change) > 1)
            violation(endedMs, change + " reached fldigi twice");
    }
    // After a call that failed and may have started a transmission, fldigi is back in receive
    // before anything else is carried out.
    QString keyedBy, named;
    for (const FakeFldigi::CarriedOut &c : fake.carriedOut()) {
        const bool change = !c.call.contains(".get_") && c.call != "main.abort()" && c.call != "text.clear_tx()";
        if (change && c.trxBefore == "TX" && transmitFailed.value(keyedBy))
            violation(c.atMs, QString("%1 carried out while the failed %2<TX> still transmitted").arg(c.call, keyedBy));
        if (c.call.startsWith("text.add_tx(string:tx"))
            named = c.call.section(':', 1).chopped(1);
        if (c.call == "main.tx()")
            keyedBy = named;
    }
    // The name is given up only for fldigi's own silence.
    for (const qint64 at : std::as_const(silencedAt)) {
        const bool silent = std::any_of(faults.cbegin(), faults.cend(), [at](const Fault &f) {
            return f.what != "answers late" && !f.what.contains("operator") && f.fromMs <= at
                && at <= f.untilMs + callMs + roomMs;
        });
        if (!silent)
            violation(at, "fldigi taken for gone while it answered");
    }
    QVERIFY2(violations.isEmpty(), qPrintable(violations.mid(0, 5).join('\n')));
}

QTEST_GUILESS_MAIN(TestBridgeFaults)
#include "tst_bridgefaults.moc"
