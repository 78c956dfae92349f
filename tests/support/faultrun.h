// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QObject>
#include <QRandomGenerator>
#include <QStringList>
#include <QTest>
#include <QTimer>

#include <functional>

// What a randomized fault test keeps: its case (the number its random draws start from), the
// faults it drew and the promises broken, each told with the faults around it. PALVO_FAULT_CASE
// runs one case alone, PALVO_FAULT_SECONDS runs each longer.
struct FaultRun
{
    struct Fault
    {
        qint64 fromMs, untilMs;
        QString what;
    };

    explicit FaultRun(quint32 number) : number(number), random(number) {}

    static void addCases(const QList<quint32> &fixed)
    {
        QTest::addColumn<quint32>("number");
        const QByteArray given = qgetenv("PALVO_FAULT_CASE");
        for (const quint32 number : given.isEmpty() ? fixed : QList<quint32>{given.toUInt()})
            QTest::addRow("case %u", number) << number;
    }
    static int seconds(int otherwise)
    {
        const int given = qEnvironmentVariableIntValue("PALVO_FAULT_SECONDS");
        return given > 0 ? given : otherwise;
    }

    void violation(qint64 atMs, const QString &what)
    {
        QStringList around;
        for (const Fault &f : std::as_const(faults)) {
            if (f.untilMs > atMs - 3000 && f.fromMs < atMs + 1000)
                around << QString("%1 from %2 to %3 ms").arg(f.what).arg(f.fromMs - atMs).arg(f.untilMs - atMs);
        }
        violations << QString("case %1: %2; the faults around it: %3").arg(number).arg(what, around.join(", "));
    }

    // then, between fromMs and toMs from now, unless the run has ended.
    void later(int fromMs, int toMs, const std::function<void()> &then)
    {
        QTimer::singleShot(random.bounded(fromMs, toMs), &scope, [this, then] {
            if (running)
                then();
        });
    }

    // Whether a state of history (each with its start in ms()) for which has() holds lasted
    // into fromMs..toMs.
    template <typename History, typename Ms, typename Has>
    static bool hadWithin(const History &history, Ms ms, qint64 fromMs, qint64 toMs, Has has)
    {
        for (qsizetype i = 0; i < history.size(); ++i) {
            const bool overlaps = ms(history[i]) <= toMs && (i + 1 == history.size() || ms(history[i + 1]) >= fromMs);
            if (overlaps && has(history[i]))
                return true;
        }
        return false;
    }

    const quint32 number;
    QRandomGenerator random;
    QList<Fault> faults;
    QStringList violations;
    bool running = true;
    QObject scope; // the case's timers end with it, not in the next case
};
