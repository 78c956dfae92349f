// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "bridgefailure.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <memory>
#include <optional>

// A call on a bridge's core, made in a test: how it ended, and when.
struct Outcome
{
    QVariant value;
    std::optional<BridgeFailure> failure;
    qint64 ms = -1; // from the call to its answer
};

using Call = std::function<void(BridgeDone)>;

// Makes the call; the outcome fills in when its answer comes.
inline std::shared_ptr<Outcome> start(const Call &call)
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

// Waits in the event loop itself, which wakes the moment an answer comes, as a bridge's does.
inline Outcome run(const Call &call)
{
    QEventLoop loop;
    auto quit = std::make_shared<std::function<void()>>([&loop] { loop.quit(); });
    const auto outcome = start([&](BridgeDone done) {
        call([done, quit](const QVariant &value, const BridgeFailure *failure) {
            done(value, failure);
            if (*quit)
                (*quit)();
        });
    });
    if (outcome->ms < 0) {
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        loop.exec();
    }
    *quit = nullptr; // an answer after the test gave up finds no loop
    if (outcome->ms < 0)
        outcome->failure = BridgeFailure{BridgeFailure::Cause::NotAnswering, "the test heard no answer"};
    return *outcome;
}
