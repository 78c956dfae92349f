// SPDX-License-Identifier: GPL-3.0-or-later
#include "bridgelog.h"
#include "fakefldigi.h"
#include "faultrun.h"
#include "fldigibridge.h"

#include <QJsonDocument>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>
#include <QTextStream>

#include <functional>

// The bridge against a fake fldigi whose link fails at random, with readers and senders of
// macros at once; afterwards the fake's record is held against the bridge's promises. A run is
// named by the number its random draws start from (FaultRun); 5 s for each of a fixed list.
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
constexpr int backMs = 2000 + 150 + roomMs; // fldigi is back in receive this long after it answers again

using Fault = FaultRun::Fault;

// What a read shows of a state of the fake.
QVariantMap shown(const FakeFldigi::State &s)
{
    QString mode = s.modem;
    if (mode == u"SSB" || mode == u"NULL")
        mode = s.rigMode == u"USB" || s.rigMode == u"LSB" ? QStringLiteral("SSB") : s.rigMode;
    return {{"AudioFq", s.carrier}, {"FqA", s.frequency}, {"Mode", mode}, {"Transmitting", s.trx != u"RX"}};
}

// Whether fldigi showed these values at some moment from fromMs to toMs.
bool hadWithin(const QList<FakeFldigi::State> &history, const QVariantMap &values, qint64 fromMs, qint64 toMs)
{
    return FaultRun::hadWithin(history, [](const FakeFldigi::State &s) { return s.sinceMs; }, fromMs, toMs,
                               [&](const FakeFldigi::State &s) { return shown(s) == values; });
}

} // namespace

void TestBridgeFaults::promisesHold_data()
{
    FaultRun::addCases({4, 5, 9, 10});
}

void TestBridgeFaults::promisesHold()
{
    QFETCH(quint32, number);
    FaultRun faultRun(number);
    QRandomGenerator &random = faultRun.random;
    QList<Fault> &faults = faultRun.faults;
    bool &running = faultRun.running;
    auto violation = [&](qint64 atMs, const QString &what) { faultRun.violation(atMs, what); };
    auto later = [&](int fromMs, int toMs, const std::function<void()> &then) { faultRun.later(fromMs, toMs, then); };
    FakeFldigi fake;
    QString said;
    QTextStream saidStream(&said);
    BridgeLog log(saidStream, "palvo2-fldigi", false);
    FldigiBridge bridge(QUrl(QString("http://127.0.0.1:%1/RPC2").arg(fake.port())), log,
                        {.callMs = callMs, .undoRetryMs = 200});
    QList<qint64> silencedAt;
    connect(&bridge.presence, &Presence::silenced, this, [&] { silencedAt.append(FakeFldigi::nowMs()); });
    bridge.view.start();


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

    // Readers, each a panel or a script: every read shows a state fldigi had within the second
    // before it was answered.
    int reads = 0;
    std::function<void()> reader = [&] {
        call([&](BridgeDone done) { bridge.view.readAll(done); }, [&](const QVariant &values, const BridgeFailure *failure, qint64 at) {
            reads += failure ? 0 : 1;
            QVariantMap read = values.toMap();
            read.remove("Modes"); // fldigi's list, the same throughout
            if (!failure && !hadWithin(fake.history(), read, at - 1000, at))
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

    // One transmitting client: a text that names the call, then <TX>; <RXANDCLEAR> after one that
    // worked. fldigi sends its text a character at a time, so a failed call may leave some unsent.
    struct Owing
    {
        QString name; // of the transmission it leaves owed
        qint64 atMs;  // its failure reply
    };
    QList<Owing> owing; // the failed calls that owe receive
    // A call refused a connection, or out of time before it ran, sent nothing and owes nothing.
    auto sentSome = [](const BridgeFailure &failure) {
        using Cause = BridgeFailure::Cause;
        return failure.cause != Cause::NotRunning && failure.cause != Cause::Unreachable
            && failure.cause != Cause::OutOfTime && failure.cause != Cause::UndoOwed;
    };
    int transmissions = 0;
    std::function<void()> transmitter = [&] {
        const QString name = QString("tx%1").arg(++transmissions);
        call(macro(QString("%1 ").arg(name).repeated(12) + "<TX>"), [&, name](const QVariant &, const BridgeFailure *failure, qint64 at) {
            if (failure) {
                if (sentSome(*failure))
                    owing.append({name, at});
                return later(20, 1500, transmitter);
            }
            call(macro("<RXANDCLEAR>"), [&, name](const QVariant &, const BridgeFailure *failure, qint64 at) {
                if (failure && sentSome(*failure))
                    owing.append({name, at});
                later(20, failure ? 1500 : 200, transmitter);
            });
        });
    };

    // One fault at a time on the link, or at fldigi: each starts, and says how long it lasts.
    auto lasting = [&] { return int(random.bounded(200, 1200)); };
    auto stallAtTx = [&] { // its window thread busy
        fake.silentFrom("main.tx");
        fake.setKeyDelay(random.bounded(150, 600));
        return int(random.bounded(callMs, callMs + 1500));
    };
    const QList<QPair<QString, std::function<int()>>> kinds = {
        {"answers late", [&] { fake.setDelay(random.bounded(1, 400)); return lasting(); }},
        {"stalls past the call's time", [&] { fake.setSilent(true); return int(random.bounded(callMs, callMs + 1000)); }},
        {"stalls at main.tx and keys late when it resumes", stallAtTx}, // drawn twice as often
        {"stalls at main.tx and keys late when it resumes", stallAtTx},
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
        {"keys late", [&] { fake.setKeyDelay(random.bounded(50, 400)); return lasting(); }},
        {"a quiet spell", [&] { return int(random.bounded(2000, 3500)); }},
    };
    // What leaves fldigi answering every request in time.
    auto benign = [](const Fault &f) {
        return f.what == "answers late" || f.what.contains("operator") || f.what == "keys late" || f.what == "a quiet spell";
    };
    auto endFaults = [&] {
        fake.setDelay(0);
        fake.silentFrom({});
        fake.setSilent(false);
        fake.setCloseAfterAnswer(false);
        fake.closeOnRequests(0);
        fake.setHalfAnswers(false);
        fake.setRefusing(false);
        fake.setKeyDelay(0); // after what was held is carried out
    };
    std::function<void()> fault = [&] {
        const auto &[what, start] = kinds[random.bounded(int(kinds.size()))];
        const qint64 from = FakeFldigi::nowMs();
        const int forMs = start();
        faults.append({from, from + forMs, what});
        QTimer::singleShot(forMs, &faultRun.scope, [&] {
            endFaults();
            later(50, 400, fault);
        });
    };

    fake.setAiring(20);
    for (int i = 0; i < 3; ++i)
        reader();
    sender();
    sender();
    transmitter();
    later(200, 400, fault);
    QTest::qWait(1000 * FaultRun::seconds(5));
    running = false;
    QTRY_VERIFY_WITH_TIMEOUT(pending == 0, 2 * callMs + 3000); // the last fault ends, the calls drain
    QTest::qWait(backMs); // what the last failures owe falls due
    const qint64 endedMs = FakeFldigi::nowMs();
    QVERIFY2(reads > 0 && !faults.isEmpty() && changes > 2, "nothing was tried");
    // No change reaches fldigi twice.
    const QStringList taken = fake.calls();
    for (const QString &change : taken.filter(QRegularExpression("^(modem.set_carrier|rig.set_frequency|text.add_tx)"))) {
        if (taken.count(change) > 1)
            violation(endedMs, change + " reached fldigi twice");
    }
    // After a call that failed and owes receive, fldigi is back in receive before anything else
    // is carried out. Each transmission is named by the text before it.
    QString keyedBy, named;
    QList<QPair<qint64, QString>> keys; // each main.tx: when, and whose
    for (const FakeFldigi::CarriedOut &c : fake.carriedOut()) {
        const bool change = !c.call.contains(".get_") && c.call != "main.abort()" && c.call != "text.clear_tx()";
        const bool owed = std::any_of(owing.cbegin(), owing.cend(), [&](const Owing &o) { return o.name == keyedBy && o.atMs < c.atMs; });
        if (change && c.trxBefore == "TX" && owed)
            violation(c.atMs, QString("%1 carried out while %2 still transmitted after a call that failed").arg(c.call, keyedBy));
        if (c.call.startsWith("text.add_tx(string:tx"))
            named = c.call.section(':', 1).section(' ', 0, 0);
        if (c.call == "main.tx()") {
            keyedBy = named;
            keys.append({c.atMs, named});
        }
    }
    // No text of a failed call goes on air in a transmission that another call keyed after its
    // failure reply.
    for (const FakeFldigi::Aired &a : fake.aired()) {
        const auto failed = std::find_if(owing.cbegin(), owing.cend(), [&](const Owing &o) { return o.name == a.owner; });
        const auto &[keyedAt, by] = keys.value(a.key - 1);
        if (failed != owing.cend() && by != a.owner && keyedAt > failed->atMs)
            violation(a.atMs, QString("the text of %1, whose call failed, went on air in %2's transmission").arg(a.owner, by));
    }
    // After a failed call that owes receive, fldigi is in receive within 2 s of answering again
    // (plus the settle time), unless a later call keyed it since: looked at where fldigi answers
    // throughout that time.
    const QList<FakeFldigi::State> history = fake.history();
    for (const Owing &o : std::as_const(owing)) {
        QList<qint64> candidates{o.atMs};
        for (const Fault &f : std::as_const(faults))
            candidates << f.untilMs;
        std::sort(candidates.begin(), candidates.end());
        const auto answering = std::find_if(candidates.cbegin(), candidates.cend(), [&](qint64 from) {
            return from >= o.atMs && std::none_of(faults.cbegin(), faults.cend(), [&](const Fault &f) {
                return !benign(f) && f.fromMs < from + backMs && f.untilMs > from;
            });
        });
        if (answering == candidates.cend() || *answering + backMs > endedMs)
            continue;
        const qint64 by = *answering + backMs;
        const auto state = std::find_if(history.crbegin(), history.crend(), [by](const auto &s) { return s.sinceMs <= by; });
        const auto lastKey = std::find_if(keys.crbegin(), keys.crend(), [by](const auto &k) { return k.first <= by; });
        const bool keyedSince = lastKey != keys.crend() && lastKey->first > o.atMs && lastKey->second != o.name;
        if (state != history.crend() && state->trx == "TX" && !keyedSince)
            violation(by, QString("fldigi still transmitted %1 ms after it answered again, after the failed call of %2")
                              .arg(backMs).arg(o.name));
    }
    // The name is given up only for fldigi's own silence.
    for (const qint64 at : std::as_const(silencedAt)) {
        const bool silent = std::any_of(faults.cbegin(), faults.cend(), [&](const Fault &f) {
            return !benign(f) && f.fromMs <= at && at <= f.untilMs + callMs + roomMs;
        });
        if (!silent)
            violation(at, "fldigi taken for gone while it answered");
    }
    QVERIFY2(faultRun.violations.isEmpty(), qPrintable(faultRun.violations.mid(0, 5).join('\n')));
}

QTEST_GUILESS_MAIN(TestBridgeFaults)
#include "tst_bridgefaults.moc"
