// SPDX-License-Identifier: GPL-3.0-or-later
// Measures the status poll and start-up; bench/poll.sh runs it against palvo2-sim.
//   pollbench ticks N ROUNDS     blocks of N ticks against blocks of N times three bare reads, in turn
//   pollbench startup bare|attach|panel LAUNCH_NS   ms from LAUNCH_NS (CLOCK_REALTIME) to the first
//                                painted frame, and peak resident memory: a window with the panel's
//                                19 controls, that window after the bus and GetNameOwner, the panel
//   pollbench soak N INTERVAL_MS HOST_PID   N timer ticks at INTERVAL_MS through the event loop,
//                                           resident memory and open fds of both sampled
//   pollbench clicks N           N clicks on "Run" queued at once, macro texts "burst 1".."burst N"
//   pollbench bridge SIM_BUS BRIDGE_BUS FLDIGI_URL BRIDGE_PID TICKS ROUNDS
//                                ticks through palvo2-fldigi against ticks against palvo2-sim plus
//                                three direct reads of fldigi, in alternating blocks; with "-" for
//                                FLDIGI_URL, through any bridge (palvo2-wsjtx) against the sim alone
//   pollbench remote BRIDGE FLDIGI_PORT SECONDS ROUNDS TRIP...
//                                palvo2-fldigi with fldigi each round trip (ms) away: ticks, each
//                                button's macro, fldigi's requests a second (remotebench.cpp)
#include "contract.h"
#include "dbushost.h"
#include "form1.h"
#include "httpreply.h"
#include "remotebench.h"
#include "sessionbus.h"
#include "xmlrpc.h"

#include <QApplication>
#include <QComboBox>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <optional>
#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace {

long residentKiB(const QString &pid = QStringLiteral("self"), const QByteArray &field = "VmRSS:")
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (QByteArray line; !(line = status.readLine()).isEmpty();) {
        if (line.startsWith(field))
            return line.mid(field.size()).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

long openFds(const QString &pid = QStringLiteral("self"))
{
    return long(QDir(QStringLiteral("/proc/%1/fd").arg(pid)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size());
}

qint64 nowNs()
{
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// Prints the time from launch to the window's first paint and the peak resident memory, then quits.
class ShownProbe : public QObject
{
public:
    explicit ShownProbe(qint64 launchNs) : m_launchNs(launchNs) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !m_done) {
            m_done = true;
            std::printf("%.1f %ld\n", double(nowNs() - m_launchNs) / 1e6,
                        residentKiB(QStringLiteral("self"), "VmHWM:"));
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    qint64 m_launchNs;
    bool m_done = false;
};

// "median (min-max)"
QString spread(QList<double> values, int decimals = 1)
{
    std::sort(values.begin(), values.end());
    return QStringLiteral("%1 (%2-%3)")
        .arg(values[values.size() / 2], 0, 'f', decimals)
        .arg(values.first(), 0, 'f', decimals)
        .arg(values.last(), 0, 'f', decimals);
}

// The floor of a read: one Properties.Get on the panel's own connection, nothing around it.
QVariant bareRead(const QDBusConnection &bus, const QString &owner, const QString &name)
{
    auto message = QDBusMessage::createMethodCall(owner, QString::fromLatin1(contract::objectPath),
                                                  QStringLiteral("org.freedesktop.DBus.Properties"),
                                                  QStringLiteral("Get"));
    message << QString::fromLatin1(contract::interfaceName) << name;
    return qvariant_cast<QDBusVariant>(bus.call(message, QDBus::Block, contract::callTimeoutMs).arguments().value(0)).variant();
}

QString ownerOf(const QDBusConnection &bus)
{
    auto message = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                                  QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetNameOwner"));
    message << QString::fromLatin1(contract::busName);
    return bus.call(message, QDBus::Block, contract::callTimeoutMs).arguments().value(0).toString();
}

// Blocks of ticks and blocks of three bare reads each, in turn, so that both see the same machine.
int ticks(int count, int rounds)
{
    const std::unique_ptr<Form1> panel = attachedPanel();
    if (!panel)
        return 1;
    Form1 &form = *panel;
    const QDBusConnection bus = QDBusConnection::sessionBus();
    const QString owner = ownerOf(bus);
    auto blockUs = [count](const std::function<void()> &tick) {
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < count; ++i)
            tick();
        return double(clock.nsecsElapsed()) / 1e3 / count;
    };
    const std::function<void()> tick = [&] { form.Timer1_Timer(); };
    const std::function<void()> reads = [&] {
        for (const char *name : contract::panelProperties)
            bareRead(bus, owner, QString::fromLatin1(name));
    };
    blockUs(tick);
    blockUs(reads); // warm up
    const long rssStart = residentKiB();
    QList<double> tickUs, readsUs, ratios;
    for (int round = 0; round < rounds; ++round) {
        const bool ticksFirst = round % 2 == 0;
        const double first = blockUs(ticksFirst ? tick : reads);
        const double second = blockUs(ticksFirst ? reads : tick);
        tickUs.append(ticksFirst ? first : second);
        readsUs.append(ticksFirst ? second : first);
        ratios.append(tickUs.last() / readsUs.last());
    }
    std::printf("blocks of %d, %d of each; median (min-max)\n", count, rounds);
    std::printf("tick_us %s\n", qPrintable(spread(tickUs)));
    std::printf("three_bare_reads_us %s\n", qPrintable(spread(readsUs)));
    std::printf("tick_per_three_reads %s\n", qPrintable(spread(ratios, 3)));
    std::printf("rss_kib %ld -> %ld\n", rssStart, residentKiB());
    return 0;
}

// The panel's 19 controls by kind, with the same texts, each on a row of its own.
std::unique_ptr<QWidget> bareWindow()
{
    auto window = std::make_unique<QWidget>();
    window->setFixedSize(336, 184);
    int at = 0;
    auto place = [&](QWidget *control) { control->setGeometry(8 + (at % 3) * 110, 8 + (at / 3) * 24, 100, 22); ++at; };
    for (const char *text : {"Mode", "BPSK31", "Audio", "Hz", "1000 Hz", "Rig", "kHz", "14100 kHz", "Macro"})
        place(new QLabel(QString::fromLatin1(text), window.get()));
    for (const char *text : {"1000", "14100", "<CLEARTXWINDOW><CLEARRXWINDOW>"})
        place(new QLineEdit(QString::fromLatin1(text), window.get()));
    for (const char *text : {"Set", "Set", "Set", "Run", "TX", "RX"})
        place(new QPushButton(QString::fromLatin1(text), window.get()));
    auto *modes = new QComboBox(window.get());
    for (const char *mode : contract::modes)
        modes->addItem(QString::fromLatin1(mode));
    place(modes);
    return window;
}

std::unique_ptr<Form1> attachedForm()
{
    auto form = std::make_unique<Form1>([] { return std::unique_ptr<Host>(DBusHost::attachSessionBus()); });
    form->endProgram = [](int code) { std::exit(code); };
    form->Form_Load();
    if (!form->hostLoaded)
        std::exit(1);
    form->show();
    return form;
}

// The real timer drives the real handler; memory and fds of panel and host are sampled ten
// times, the first sample after a tenth of the run so that warm-up is not counted as growth.
int soak(int count, int intervalMs, const QString &hostPid)
{
    auto form = attachedForm();
    form->Timer1->setInterval(intervalMs);
    int ticks = 0;
    QList<std::array<long, 4>> samples;
    QElapsedTimer clock;
    clock.start();
    QObject::connect(form->Timer1, &QTimer::timeout, [&] {
        ++ticks;
        if (ticks % (count / 10) == 0) {
            samples.append({residentKiB(), openFds(), residentKiB(hostPid), openFds(hostPid)});
            std::printf("sample tick %d panel_rss_kib %ld panel_fds %ld host_rss_kib %ld host_fds %ld\n", ticks,
                        samples.last()[0], samples.last()[1], samples.last()[2], samples.last()[3]);
        }
        if (ticks == count)
            QCoreApplication::quit();
    });
    QApplication::exec();
    const auto &first = samples.first();
    const auto &last = samples.last();
    std::printf("soak_ticks %d in %.1f s at %d ms\n", ticks, double(clock.elapsed()) / 1000, intervalMs);
    std::printf("panel_rss_growth_kib %ld\npanel_fd_growth %ld\n", last[0] - first[0], last[1] - first[1]);
    std::printf("host_rss_growth_kib %ld\nhost_fd_growth %ld\n", last[2] - first[2], last[3] - first[3]);
    return 0;
}

// Every click is queued before the first is handled, as when a user hammers the button:
// each sets the macro text, then presses and releases "Run" at its centre.
int clicks(int count)
{
    auto form = attachedForm();
    form->Timer1->stop();
    QPushButton *run = form->Command1;
    const QPointF centre = QRectF(run->rect()).center();
    const QPointF global = run->mapToGlobal(centre);
    for (int i = 1; i <= count; ++i) {
        QMetaObject::invokeMethod(form->Text1, "setText", Qt::QueuedConnection,
                                  Q_ARG(QString, QStringLiteral("burst %1").arg(i)));
        QCoreApplication::postEvent(run, new QMouseEvent(QEvent::MouseButtonPress, centre, global, Qt::LeftButton,
                                                         Qt::LeftButton, Qt::NoModifier));
        QCoreApplication::postEvent(run, new QMouseEvent(QEvent::MouseButtonRelease, centre, global,
                                                         Qt::LeftButton, Qt::NoButton, Qt::NoModifier));
    }
    QElapsedTimer clock;
    clock.start();
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection); // behind every click
    QApplication::exec();
    std::printf("clicks %d handled in %.0f ms\n", count, double(clock.nsecsElapsed()) / 1e6);
    return 0;
}

double cpuSeconds(const QString &pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = stat.readAll().split(')').value(1).split(' ');
    return double(fields.value(12).toLong() + fields.value(13).toLong()) / double(sysconf(_SC_CLK_TCK));
}

// The floor of a read: blocking, on one kept connection, nothing between the socket and the parse.
class DirectReads
{
public:
    explicit DirectReads(const QUrl &url)
    {
        m_socket.connectToHost(url.host(), quint16(url.port(80)));
        m_socket.waitForConnected(2000);
        m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        m_head = "POST " + url.path().toUtf8() + " HTTP/1.1\r\nHost: " + url.authority().toUtf8()
                 + "\r\nContent-Type: text/xml\r\nContent-Length: ";
    }

    QVariant read(const QString &method)
    {
        const QByteArray body = xmlrpc::request(method, {});
        m_socket.write(m_head + QByteArray::number(body.size()) + "\r\n\r\n" + body);
        HttpReply reply;
        while (reply.state() == HttpReply::State::Incomplete && m_socket.waitForReadyRead(2000))
            reply.feed(m_socket.readAll());
        return reply.state() == HttpReply::State::Complete ? xmlrpc::answer(reply.body()) : QVariant();
    }

private:
    QTcpSocket m_socket;
    QByteArray m_head;
};

std::unique_ptr<Form1> formOn(const QString &address, const QString &name)
{
    auto form = std::make_unique<Form1>(
        [=] { return std::unique_ptr<Host>(DBusHost::attach(QDBusConnection::connectToBus(address, name))); });
    form->Timer1->stop();
    form->endProgram = [](int code) { std::exit(code); };
    form->Form_Load();
    if (!form->hostLoaded)
        std::exit(1);
    return form;
}

int bridge(const QStringList &args)
{
    auto sim = formOn(args.value(2), QStringLiteral("sim"));
    auto viaBridge = formOn(args.value(3), QStringLiteral("bridge"));
    std::optional<DirectReads> fldigi;
    if (args.value(4) != u"-")
        fldigi.emplace(QUrl(args.value(4)));
    const QString bridgePid = args.value(5);
    const int ticks = args.value(6).toInt();
    const int rounds = args.value(7).toInt();
    auto direct = [&] {
        for (const char *method : {"modem.get_carrier", "rig.get_frequency", "modem.get_name"}) {
            if (fldigi && !fldigi->read(QString::fromLatin1(method)).isValid())
                std::exit(1);
        }
    };
    const std::function<void()> simTick = [&] { sim->Timer1_Timer(); };
    const std::function<void()> bridgeTick = [&] { viaBridge->Timer1_Timer(); };
    auto blockUs = [&](const std::function<void()> &tick) {
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < ticks; ++i)
            tick();
        return double(clock.nsecsElapsed()) / 1e3 / ticks;
    };
    for (const auto &tick : {simTick, bridgeTick, std::function<void()>(direct)})
        blockUs(tick); // warm up, connections made

    QList<double> simUs, bridgeUs, directUs, ratios, cpuUs;
    for (int round = 0; round < rounds; ++round) {
        double s = 0, b = 0, d = 0;
        for (int turn = 0; turn < 3; ++turn) { // each round in another order
            switch ((round + turn) % 3) {
            case 0:
                s = blockUs(simTick);
                break;
            case 1: {
                const double cpu0 = cpuSeconds(bridgePid);
                b = blockUs(bridgeTick);
                cpuUs.append((cpuSeconds(bridgePid) - cpu0) * 1e6 / ticks);
                break;
            }
            default:
                d = blockUs(direct);
            }
        }
        simUs.append(s);
        bridgeUs.append(b);
        directUs.append(d);
        ratios.append(b / (s + d));
    }
    std::printf("blocks of %d ticks, %d of each; median (min-max)\n", ticks, rounds);
    std::printf("tick_via_sim_us %s\n", qPrintable(spread(simUs)));
    if (fldigi)
        std::printf("three_direct_reads_us %s\n", qPrintable(spread(directUs)));
    std::printf("tick_via_bridge_us %s\n", qPrintable(spread(bridgeUs)));
    std::printf("bridge_per_floor %s\n", qPrintable(spread(ratios, 2)));
    std::printf("bridge_cpu_us_per_tick %s\n", qPrintable(spread(cpuUs)));
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    const bool panelStartup = argc > 2 && qstrcmp(argv[1], "startup") == 0 && qstrcmp(argv[2], "panel") == 0;
    if (panelStartup) // as palvo-panel does before anything else
        shutOutSilentSessionBus(contract::callTimeoutMs);
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.value(1) == u"ticks")
        return ticks(args.value(2, QStringLiteral("10000")).toInt(), args.value(3, QStringLiteral("10")).toInt());
    if (args.value(1) == u"soak")
        return soak(args.value(2).toInt(), args.value(3).toInt(), args.value(4));
    if (args.value(1) == u"clicks")
        return clicks(args.value(2).toInt());
    if (args.value(1) == u"bridge")
        return bridge(args);
    if (args.value(1) == u"remote")
        return remote(args);
    if (args.value(1) != u"startup")
        return 2;

    ShownProbe probe(args.value(3).toLongLong());
    std::unique_ptr<QWidget> window;
    if (panelStartup) {
        auto form = std::make_unique<Form1>([] { return std::unique_ptr<Host>(DBusHost::attachSessionBus()); });
        form->Form_Load();
        window = std::move(form);
    } else {
        window = bareWindow();
        if (args.value(2) == u"attach" && ownerOf(QDBusConnection::sessionBus()).isEmpty())
            return 1;
    }
    window->installEventFilter(&probe);
    window->show();
    return QApplication::exec();
}
