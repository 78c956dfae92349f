// SPDX-License-Identifier: GPL-3.0-or-later
// pollbench remote: the panel and palvo2-fldigi with fldigi a round trip away; bench/remote.sh
// runs it. See there for what it measures.
#include "remotebench.h"

#include "contract.h"
#include "dbushost.h"
#include "delayproxy.h"
#include "form1.h"
#include "hostfailure.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cstdio>

namespace {

void wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values[values.size() / 2];
}

double worst(const QList<double> &values)
{
    return values.isEmpty() ? 0 : *std::max_element(values.begin(), values.end());
}

// The macro texts the panel's buttons send with its initial texts, and every mode of its list
// (fldigi refuses the four it lacks).
QList<QPair<QString, QString>> buttons()
{
    QList<QPair<QString, QString>> macros;
    for (const char *mode : contract::modes)
        macros.append({QStringLiteral("Mode"), QStringLiteral("<MODE:%1>").arg(QLatin1StringView(mode))});
    macros.append({QStringLiteral("Mode"), QStringLiteral("<MODE:BPSK31>")});
    macros.append({QStringLiteral("Audio"), QStringLiteral("<AUDIOFQ:1000>")});
    macros.append({QStringLiteral("Rig"), QStringLiteral("<ZFQ:14100>")});
    macros.append({QStringLiteral("Run"), QStringLiteral("<CLEARTXWINDOW><CLEARRXWINDOW>")});
    macros.append({QStringLiteral("TX"), QStringLiteral("<TX>")});
    macros.append({QStringLiteral("RX"), QStringLiteral("<RXANDCLEAR>")}); // while transmitting
    return macros;
}

} // namespace

std::unique_ptr<Form1> attachedPanel()
{
    auto form = std::make_unique<Form1>([] { return std::unique_ptr<Host>(DBusHost::attachSessionBus()); });
    form->Timer1->stop();
    form->endProgram = [](int code) { std::exit(code); };
    form->Form_Load();
    return form->hostLoaded ? std::move(form) : nullptr;
}

int remote(const QStringList &args)
{
    const QString bridgePath = args.value(2);
    const quint16 fldigiPort = quint16(args.value(3).toUInt());
    const int seconds = args.value(4).toInt();
    const int rounds = args.value(5).toInt();
    QList<int> trips;
    for (const QString &ms : args.mid(6))
        trips.append(ms.toInt());

    DelayProxy proxy(fldigiPort);
    QProcess bridge;
    bridge.setStandardErrorFile(QProcess::nullDevice());
    bridge.start(bridgePath, {QStringLiteral("--url"), QStringLiteral("http://127.0.0.1:%1/RPC2").arg(proxy.port())});
    QDBusConnection bus = QDBusConnection::sessionBus();
    for (int i = 0; i < 100 && !bus.interface()->isServiceRegistered(QString::fromLatin1(contract::busName)); ++i)
        wait(100);

    const std::unique_ptr<Form1> panel = attachedPanel();
    if (!panel)
        return 1;
    Form1 &form = *panel;
    QTimer failed; // a failed tick opens the panel's message: say so and stop, nobody answers it here
    QObject::connect(&failed, &QTimer::timeout, [] {
        if (QApplication::activeModalWidget()) {
            std::fprintf(stderr, "a tick failed\n");
            std::exit(1);
        }
    });
    failed.start(100);

    std::printf("%d s of each; each button's macro %d times, the slowest (Mode: of every mode); ms, and fldigi's "
                "HTTP requests a second\n", seconds, rounds);
    std::printf("| round trip | tick median | tick worst | Mode | Audio | Rig | Run | TX | RX | failed | "
                "requests/s polled | requests/s idle |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (int trip : trips) {
        proxy.setDelay(trip / 2);
        wait(2000);

        int before = proxy.requests();
        wait(seconds * 1000);
        const double idleRate = double(proxy.requests() - before) / seconds;

        QList<double> ticks;
        before = proxy.requests();
        QElapsedTimer polling;
        polling.start();
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&] {
            QElapsedTimer tick;
            tick.start();
            form.Timer1_Timer();
            ticks.append(double(tick.nsecsElapsed()) / 1e6);
        });
        timer.start(500);
        wait(seconds * 1000);
        timer.stop();
        const double pollRate = double(proxy.requests() - before) * 1000 / double(polling.elapsed());

        QMap<QString, QList<double>> macros;
        int failures = 0;
        for (int round = 0; round < rounds; ++round) {
            for (const auto &[button, text] : buttons()) {
                QElapsedTimer clock;
                clock.start();
                try {
                    form.host->call(QString::fromLatin1(contract::executeMacros), text);
                } catch (const HostFailure &failure) {
                    if (failure.text.contains(QStringLiteral("fldigi has no mode")))
                        continue; // refused before anything is sent, as it should be: not timed
                    ++failures;
                    std::fprintf(stderr, "%d ms %s: %s\n", trip, qPrintable(text), qPrintable(failure.text));
                }
                macros[button].append(double(clock.nsecsElapsed()) / 1e6);
                if (button == u"TX")
                    wait(300); // transmitting a moment, as an operator would before RX
            }
        }
        std::printf("| %d | %.2f | %.2f | %.0f | %.0f | %.0f | %.0f | %.0f | %.0f | %d | %.2f | %.2f |\n", trip,
                    median(ticks), worst(ticks), worst(macros[QStringLiteral("Mode")]),
                    worst(macros[QStringLiteral("Audio")]), worst(macros[QStringLiteral("Rig")]),
                    worst(macros[QStringLiteral("Run")]), worst(macros[QStringLiteral("TX")]),
                    worst(macros[QStringLiteral("RX")]), failures, pollRate, idleRate);
        std::fflush(stdout);
    }
    bridge.terminate();
    bridge.waitForFinished(3000);
    return 0;
}
