// SPDX-License-Identifier: GPL-3.0-or-later
#include "bridgecall.h"
#include "bridgelog.h"
#include "fakewsjtx.h"
#include "faultrun.h"
#include "wsjtxbridge.h"

#include <QJsonDocument>
#include <QRandomGenerator>
#include <QTest>
#include <QTextStream>

#include <functional>

// The bridge against fake WSJT-Xs whose datagrams are lost, duplicated and late, whose operator
// acts in its window, which restart, close and stop taking requests, beside another program
// that speaks as WSJT-X; with readers and senders of macros at once. Afterwards the fakes'
// records are held against the bridge's promises. A run is named by the number its random draws
// start from (FaultRun); 3 s for each of a fixed list, chosen among those that catch a rival's
// datagrams taken for WSJT-X's and a mode change confirmed by any Status.
class TestWsjtxFaults : public QObject
{
    Q_OBJECT

private slots:
    void promisesHold_data();
    void promisesHold();
};

namespace {

constexpr int callMs = 1800;
constexpr int roomMs = 150; // a busy machine, the sanitizers

using Fault = FaultRun::Fault;

QVariantMap shown(const wsjtx::Status &s)
{
    return {{"AudioFq", int(s.rxDf)}, {"FqA", double(s.dialHz)}, {"Mode", s.mode}, {"Transmitting", s.transmitting}};
}

using History = QList<FakeWsjtx::Moment>;

// Whether one of the WSJT-Xs was in a state that has() from fromMs to toMs.
bool hadWithin(const QList<History> &histories, qint64 fromMs, qint64 toMs, const std::function<bool(const wsjtx::Status &)> &has)
{
    return std::any_of(histories.cbegin(), histories.cend(), [&](const History &history) {
        return FaultRun::hadWithin(history, [](const FakeWsjtx::Moment &m) { return m.ms; }, fromMs, toMs,
                                   [&](const FakeWsjtx::Moment &m) { return has(m.status); });
    });
}

} // namespace

void TestWsjtxFaults::promisesHold_data()
{
    FaultRun::addCases({4, 5, 6});
}

void TestWsjtxFaults::promisesHold()
{
    QFETCH(quint32, number);
    FaultRun faultRun(number);
    QRandomGenerator &random = faultRun.random;
    QList<Fault> &faults = faultRun.faults;
    QObject &scope = faultRun.scope;
    auto violation = [&](qint64 atMs, const QString &what) { faultRun.violation(atMs, what); };
    auto later = [&](int fromMs, int toMs, const std::function<void()> &then) { faultRun.later(fromMs, toMs, then); };
    QElapsedTimer clock;
    clock.start();
    QString said;
    QTextStream saidStream(&said);
    BridgeLog log(saidStream, "palvo2-wsjtx", false);
    WsjtxBridge bridge(WsjtxLink::Options{.port = 0, .probeMs = 100, .heartbeatsMissedMs = 1500}, log, callMs);
    QVERIFY(bridge.link.open().isEmpty());
    bridge.view.start();

    // The WSJT-Xs, one at a time, each started again with its predecessor's state; and another
    // program with the same Id, in a state none of them is ever in.
    std::vector<std::unique_ptr<FakeWsjtx>> wsjtxs;
    QList<QPair<qint64, qint64>> alive; // each one's first and last word
    auto start = [&](const wsjtx::Status &status) {
        wsjtxs.push_back(std::make_unique<FakeWsjtx>(bridge.link.port()));
        FakeWsjtx &w = *wsjtxs.back();
        w.clock = &clock;
        w.status = status;
        alive.append({clock.elapsed(), std::numeric_limits<qint64>::max()});
        w.heartbeat();
        w.sendStatus();
    };
    auto current = [&]() -> FakeWsjtx & { return *wsjtxs.back(); };
    start({.dialHz = 14074000, .mode = "FT8", .rxDf = 1500});
    FakeWsjtx rival(bridge.link.port());
    rival.clock = &clock;
    rival.status = {.dialHz = 50313000, .mode = "JT65", .rxDf = 999};
    bool rivalSpeaks = false;
    QList<QPair<qint64, qint64>> spoken; // the other program's turns: its first word, its last
    const auto periods = rival.periods;

    auto histories = [&] {
        QList<History> all;
        for (const auto &w : wsjtxs)
            all << w->history;
        return all;
    };

    int pending = 0;
    using Answered = std::function<void(const QVariant &, const BridgeFailure *, qint64 sentMs, qint64 atMs)>;
    auto call = [&](const std::function<void(BridgeDone)> &make, Answered answered) {
        const qint64 sent = clock.elapsed();
        ++pending;
        make([&, sent, answered](const QVariant &value, const BridgeFailure *failure) {
            --pending;
            const qint64 at = clock.elapsed();
            if (at - sent > callMs + roomMs)
                violation(at, QString("a call answered %1 ms after it came").arg(at - sent));
            answered(value, failure, sent, at);
        });
    };

    // Heartbeats, more often than WSJT-X's, so that only a fault silences it; and a Status with
    // each, as WSJT-X sends when it starts and ends decoding, every period.
    std::function<void()> heartbeats = [&] {
        current().heartbeat();
        current().sendStatus();
        if (rivalSpeaks) {
            rival.heartbeat();
            rival.sendStatus();
            spoken.last().second = clock.elapsed();
        }
        later(300, 500, heartbeats);
    };

    // Readers: every read shows a state a WSJT-X had within the second before it was answered
    // (since the loss began, after datagrams were lost), and only while one is heard.
    int reads = 0;
    std::function<void()> reader = [&] {
        call([&](BridgeDone done) { bridge.view.readAll(done); }, [&](const QVariant &values, const BridgeFailure *failure, qint64, qint64 at) {
            if (failure)
                return later(50, 300, reader);
            ++reads;
            QVariantMap read = values.toMap();
            read.remove("Modes"); // WSJT-X's, the same throughout
            // A change that brings no Status (an Rx DF) cannot be read back while WSJT-X drops
            // requests, nor one whose datagram was lost: until a second after a Replay is answered.
            qint64 from = at - 1000;
            for (const Fault &f : std::as_const(faults)) {
                if ((f.what.startsWith("datagrams") || f.what.contains("Accept UDP")) && f.untilMs + 2000 + roomMs >= at)
                    from = std::min(from, f.fromMs - 1000);
            }
            if (!hadWithin(histories(), from, at, [&](const wsjtx::Status &s) { return shown(s) == read; }))
                violation(at, QString("read %1, which no WSJT-X showed in the second before")
                                  .arg(QString::fromUtf8(QJsonDocument::fromVariant(values).toJson(QJsonDocument::Compact))));
            if (std::none_of(alive.cbegin(), alive.cend(), [&](const auto &a) { return a.first <= at && at - 300 - roomMs <= a.second; }))
                violation(at, "a read answered while no WSJT-X was heard");
            later(50, 300, reader);
        });
    };

    // Senders of macros: one that is done took effect in a WSJT-X while it ran, and none is done
    // on the word of the other program.
    QList<QPair<qint64, qint64>> calls;  // each macro's time, for the requests it may send
    QList<qint64> failedReceive;         // the failures of <RX> and <RXANDCLEAR>: a Halt Tx owed
    int macros = 0;
    std::function<void()> sender = [&] {
        const QString mode = QStringList{"FT8", "FT4", "FST4", "Q65", "JT9"}[random.bounded(5)];
        const quint32 hz = 300 + ++macros;
        const QStringList texts{"<MODE:" + mode + ">", QString("<AUDIOFQ:%1>").arg(hz),
                                QString("<MODE:%1><AUDIOFQ:%2>").arg(mode).arg(hz), "<RX>", "<RXANDCLEAR>", "<CLEARRXWINDOW>"};
        const QString text = texts[random.bounded(int(texts.size()))];
        call([&, text](BridgeDone done) { bridge.runner.executeMacros(text, done); },
             [&, text, mode, hz](const QVariant &, const BridgeFailure *failure, qint64 sent, qint64 at) {
                 calls.append({sent, at});
                 if (failure && text.startsWith("<RX"))
                     failedReceive.append(at);
                 later(20, 400, sender);
                 if (failure)
                     return;
                 std::function<bool(const wsjtx::Status &)> has;
                 if (text.startsWith("<MODE"))
                     has = [=](const wsjtx::Status &s) { return s.mode == mode && (!text.contains("AUDIO") || s.rxDf == hz); };
                 else if (text.startsWith("<AUDIOFQ"))
                     has = [=](const wsjtx::Status &s) { return s.rxDf == hz; };
                 else if (text.startsWith("<RX"))
                     has = [=](const wsjtx::Status &s) { return !s.txEnabled && (text == "<RX>" || !s.transmitting); };
                 const bool tookEffect = has ? hadWithin(histories(), sent, at, has) : std::any_of(wsjtxs.cbegin(), wsjtxs.cend(), [&](const auto &w) {
                     return std::any_of(w->taken.cbegin(), w->taken.cend(), [&](const auto &t) {
                         return t.second == quint32(wsjtx::Type::Clear) && t.first >= sent && t.first <= at;
                     });
                 });
                 if (!tookEffect)
                     violation(at, text + " was done, but no WSJT-X showed it while it ran");
                 if (std::any_of(spoken.cbegin(), spoken.cend(), [&](const auto &s) { return s.first + 50 <= sent && sent <= s.second; }))
                     violation(at, text + " was done, asked while another program spoke as WSJT-X");
             });
    };

    // One fault at a time; each starts, and says how long it lasts.
    auto lasting = [&] { return int(random.bounded(200, 1200)); };
    auto rivalSpeaking = [&] {
        rivalSpeaks = true;
        rival.heartbeat();
        rival.sendStatus();
        spoken.append({clock.elapsed(), clock.elapsed()}); // from its first word to its last
        return lasting();
    };
    const QList<QPair<QString, std::function<int()>>> kinds = {
        {"datagrams lost, duplicated and late", [&] {
             current().faults = {&random, random.bounded(0.3), random.bounded(0.3), int(random.bounded(40))};
             return lasting();
         }},
        {"a Status stream: the operator turns the VFO", [&] {
             const int forMs = lasting();
             for (int ms = 0; ms < forMs; ms += 50) {
                 QTimer::singleShot(ms, &scope, [&] {
                     current().status.dialHz += 100;
                     current().sendStatus();
                 });
             }
             return forMs;
         }},
        {"the operator changes mode", [&] {
             current().status.mode = QStringList{"FT8", "FT4", "FST4", "Q65"}[random.bounded(4)];
             current().sendStatus();
             return 0;
         }},
        {"the operator drags the Rx DF", [&] {
             current().status.rxDf = random.bounded(200, 3000);
             current().sendStatus();
             return 0;
         }},
        {"a transmission starts in WSJT-X's window", [&] {
             current().status.txEnabled = current().status.transmitting = true;
             current().sendStatus();
             return 0;
         }},
        {"it restarts", [&] {
             current().close();
             alive.last().second = clock.elapsed();
             QTimer::singleShot(300, &scope, [&] { start(current().status); });
             return 400;
         }},
        {"it is killed, then started again", [&] {
             current().kill();
             alive.last().second = clock.elapsed();
             const int forMs = lasting();
             QTimer::singleShot(forMs, &scope, [&] { start(current().status); });
             return forMs + 50;
         }},
        {"\"Accept UDP requests\" turned off", [&] { current().acceptsRequests = false; return lasting(); }},
        {"another program speaks as WSJT-X", rivalSpeaking}, // drawn twice as often
        {"another program speaks as WSJT-X", rivalSpeaking},
        {"a quiet spell", [&] { return int(random.bounded(500, 1500)); }},
    };
    std::function<void()> fault = [&] {
        const auto &[what, begin] = kinds[random.bounded(int(kinds.size()))];
        const qint64 from = clock.elapsed();
        const int forMs = begin();
        faults.append({from, from + forMs, what});
        QTimer::singleShot(forMs, &scope, [&] {
            current().faults = {};
            current().acceptsRequests = true;
            rivalSpeaks = false;
            later(50, 400, fault);
        });
    };

    heartbeats();
    for (int i = 0; i < 3; ++i)
        reader();
    sender();
    sender();
    later(200, 400, fault);
    QTest::qWait(1000 * FaultRun::seconds(3));
    faultRun.running = false;
    QTRY_VERIFY_WITH_TIMEOUT(pending == 0, 2 * callMs + 3000); // the last fault ends, the calls drain
    QVERIFY2(reads > 0 && macros > 2 && !faults.isEmpty(), "nothing was tried");

    // Nothing that changes WSJT-X reaches it outside a call's time (a Halt Tx also while one is
    // owed), and the other program never gets one.
    const QList<quint32> changes{quint32(wsjtx::Type::Configure), quint32(wsjtx::Type::Clear), quint32(wsjtx::Type::HaltTx)};
    for (const auto &w : wsjtxs) {
        for (const auto &[atMs, type] : std::as_const(w->taken)) {
            const bool inCall = std::any_of(calls.cbegin(), calls.cend(), [&](const auto &c) { return c.first <= atMs && atMs <= c.second + 40 + roomMs; });
            const bool owed = type == quint32(wsjtx::Type::HaltTx)
                              && std::any_of(failedReceive.cbegin(), failedReceive.cend(), [&](qint64 f) { return f <= atMs; });
            if (changes.contains(type) && !inCall && !owed)
                violation(atMs, QString("a request of type %1 reached WSJT-X outside a call").arg(type));
        }
        // A mode change leaves each mode's T/R period as it was.
        if (w->periods != periods)
            violation(clock.elapsed(), "a T/R period changed");
    }
    for (const auto &[atMs, type] : std::as_const(rival.taken)) {
        if (changes.contains(type))
            violation(atMs, QString("a request of type %1 reached the other program").arg(type));
    }
    QVERIFY2(faultRun.violations.isEmpty(), qPrintable(faultRun.violations.mid(0, 5).join('\n')));
}

QTEST_GUILESS_MAIN(TestWsjtxFaults)
#include "tst_wsjtxfaults.moc"
