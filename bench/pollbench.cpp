// Measures the status poll and start-up; bench/poll.sh runs it against palvo2-sim.
//   pollbench ticks N            N ticks back to back, then N bare reads, with resident memory
//   pollbench startup panel|bare LAUNCH_NS   ms from LAUNCH_NS (CLOCK_REALTIME) to the window shown
#include "dbushost.h"
#include "form1.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QTimer>

#include <cstdio>
#include <ctime>

namespace {

long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (QByteArray line; !(line = status.readLine()).isEmpty();) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

qint64 nowNs()
{
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// Prints the time from launch to the window's first paint, then quits.
class ShownProbe : public QObject
{
public:
    explicit ShownProbe(qint64 launchNs) : m_launchNs(launchNs) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !m_done) {
            m_done = true;
            std::printf("%.1f\n", double(nowNs() - m_launchNs) / 1e6);
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    qint64 m_launchNs;
    bool m_done = false;
};

int ticks(int count)
{
    Form1 form([] { return std::unique_ptr<Host>(DBusHost::attachSessionBus()); });
    form.Timer1->stop();
    form.endProgram = [](int code) { std::exit(code); };
    form.Form_Load();
    if (!form.hostLoaded)
        return 1;
    form.Timer1_Timer(); // warm up
    const long rssStart = residentKiB();

    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < count; ++i)
        form.Timer1_Timer();
    const double tickUs = double(clock.nsecsElapsed()) / 1e3 / count;
    const long rssAfter = residentKiB();

    clock.restart();
    for (int i = 0; i < count; ++i)
        form.host->read(QStringLiteral("AudioFq"));
    const double readUs = double(clock.nsecsElapsed()) / 1e3 / count;

    std::printf("ticks %d\n", count);
    std::printf("tick_us %.1f\n", tickUs);
    std::printf("read_us %.1f\n", readUs);
    std::printf("tick_per_read %.2f\n", tickUs / readUs);
    std::printf("rss_start_kib %ld\n", rssStart);
    std::printf("rss_after_kib %ld\n", rssAfter);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.value(1) == u"ticks")
        return ticks(args.value(2, QStringLiteral("10000")).toInt());
    if (args.value(1) != u"startup")
        return 2;

    ShownProbe probe(args.value(3).toLongLong());
    std::unique_ptr<QWidget> window;
    if (args.value(2) == u"panel") {
        auto form = std::make_unique<Form1>([] { return std::unique_ptr<Host>(DBusHost::attachSessionBus()); });
        form->Form_Load();
        window = std::move(form);
    } else {
        window = std::make_unique<QWidget>();
        window->setFixedSize(336, 184);
    }
    window->installEventFilter(&probe);
    window->show();
    return QApplication::exec();
}
