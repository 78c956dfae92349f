// SPDX-License-Identifier: GPL-3.0-or-later
// palvoctl: the radio from a shell, one short command for each read and change of the host
// program on the session bus.
#include "contract.h"
#include "follower.h"
#include "hostbus.h"
#include "macrocheck.h"
#include "valuetext.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusServiceWatcher>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QRegularExpression>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

const char *const usage = R"(Usage: palvoctl [options] [command [argument]]

Reads and changes the radio program behind "Palvo2.Application" on the session bus.

Reads (one value each, bare):
  (none)             mode, audio frequency, rig frequency and TX or RX, on one line
  mode               the mode
  audio              the audio frequency, in Hz
  rig                the rig frequency, in kHz, as <ZFQ:...> takes it
  transmitting       yes or no
Changes (each one ExecuteMacros call; returns when the program has replied):
  mode NAME          <MODE:NAME>
  audio HZ           <AUDIOFQ:HZ>
  rig FREQUENCY      <ZFQ:...>: kHz (7074), or with a unit (14.074MHz, 7074kHz, 7074000Hz)
  tx                 <TX>: transmit
  rx                 <RXANDCLEAR>: back to receive now, the unsent text dropped
  clear              <CLEARTXWINDOW><CLEARRXWINDOW>
  macro TEXT         any macro text, checked first (--no-check sends it as it is)
  send TEXT          transmit TEXT (text only), then wait until back in receive

Options:
  -p, --host NAME    fldigi, wsjtx, sim or a whole bus name (default Palvo2.Application)
  -l, --list         the host programs on the bus, and who waits for the name
  -f, --follow       print at start and on every change; an empty line while no program is there
  --format TEMPLATE  for reads and --follow: {mode} {audio} (Hz) {rig} (kHz) {rig_hz} {tx} (yes/no)
                     {txrx} (TX/RX) {host} (the program) {modes} (the modes it takes)
  --timeout MS       how long each call may take (default 2000)
  --wait SECONDS     how long send waits for receive (default 60)
  --no-check         send a macro as it is
  -h, --help         this text
  -v, --version      the version

Numbers are written with a point whatever the locale.
Exit status: 0 done; 1 the program failed or refused the call (the message names the step and
the cause); 2 bad usage, or a macro stopped by the check; 3 no host program ("Palvo2 is not
loaded"), or no session bus.
)";

[[noreturn]] void fail(const CtlFailure &failure)
{
    std::fprintf(stderr, "palvoctl: %s\n", failure.text.toLocal8Bit().constData());
    std::fflush(stderr);
    std::_Exit(failure.status);
}

CtlFailure usageError(const QString &text)
{
    return {CtlFailure::Usage, text + QStringLiteral(" (palvoctl --help lists what it takes)")};
}

// A line out; a closed output ends the program, its work done.
void printLine(const QString &line)
{
    const QByteArray bytes = line.toLocal8Bit() + '\n';
    if (std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) != size_t(bytes.size()) || std::fflush(stdout) != 0)
        std::_Exit(0);
}

QString number(double value)
{
    return numberText(value, QLocale::c());
}

// The keys of --format, each with its text from the values read.
struct FormatKey
{
    const char *key;
    QString (*text)(const QVariantMap &values, const HostBus &host);
};

QVariant value(const QVariantMap &values, const char *name)
{
    return values.value(QString::fromLatin1(name));
}

QString said(const QVariantMap &values, const char *yes, const char *no)
{
    return QString::fromLatin1(value(values, contract::transmitting).toBool() ? yes : no);
}

using Values = const QVariantMap &;
using Host = const HostBus &;
const FormatKey formatKeys[] = {
    {"{mode}", [](Values v, Host) { return value(v, contract::mode).toString(); }},
    {"{audio}", [](Values v, Host) { return QString::number(value(v, contract::audioFq).toLongLong()); }},
    {"{rig}", [](Values v, Host) { return number(value(v, contract::fqA).toDouble() / 1000); }},
    {"{rig_hz}", [](Values v, Host) { return number(value(v, contract::fqA).toDouble()); }},
    {"{tx}", [](Values v, Host) { return said(v, "yes", "no"); }},
    {"{txrx}", [](Values v, Host) { return said(v, "TX", "RX"); }},
    {"{host}", [](Values, Host host) { return host.program(); }},
    {"{modes}", [](Values v, Host) { return value(v, contract::modesProperty).toStringList().join(u' '); }},
};

QString formatValues(const QString &format, const QVariantMap &values, const HostBus &host)
{
    if (values.isEmpty())
        return {};
    QString line = format;
    for (const FormatKey &key : formatKeys) {
        if (line.contains(QLatin1StringView(key.key)))
            line.replace(QLatin1StringView(key.key), key.text(values, host));
    }
    return line;
}

const QString defaultLine = QStringLiteral("{mode} {audio} Hz {rig} kHz {txrx}");

QString checkedFormat(const QString &format)
{
    static const QRegularExpression key(QStringLiteral("\\{[^}]*\\}"));
    for (const QRegularExpressionMatch &match : key.globalMatch(format)) {
        if (std::none_of(std::begin(formatKeys), std::end(formatKeys),
                         [&](const FormatKey &known) { return match.captured() == QLatin1StringView(known.key); }))
            throw usageError(QStringLiteral("--format: unknown %1").arg(match.captured()));
    }
    return format;
}

// send: the text, then back to receive once it is sent; followed until the program says so.
int send(const HostBus &host, const QDBusConnection &bus, const QString &text, int waitSeconds)
{
    if (!isPlainText(text))
        throw usageError(QStringLiteral("send takes text only; '%1' holds a tag or what looks like one (palvoctl macro "
                                        "sends tags)").arg(text));
    QEventLoop loop;
    bool received = false;
    Follower follower(bus, host.name(), [&](const QVariantMap &changed) {
        if (changed.contains(QString::fromLatin1(contract::transmitting)) && !changed.value(QString::fromLatin1(contract::transmitting)).toBool()) {
            received = true;
            loop.quit();
        }
    });
    host.execute(QStringLiteral("<TX>") + text + QStringLiteral("<RX>"));
    if (!host.readAll().value(QString::fromLatin1(contract::transmitting)).toBool())
        return 0;
    QTimer::singleShot(waitSeconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    if (!received)
        throw CtlFailure{CtlFailure::HostFailed,
                         QStringLiteral("%1 still transmits %2 s after the text went out").arg(host.name()).arg(waitSeconds)};
    return 0;
}

// --follow: a line at start and on every change, an empty one while no program is there.
int follow(const HostBus &host, const QDBusConnection &bus, const QString &format)
{
    for (const int signal : {SIGINT, SIGTERM})
        std::signal(signal, [](int) { std::_Exit(0); });
    QVariantMap values;
    QString printed;
    bool first = true;
    auto print = [&] {
        const QString line = formatValues(format, values, host);
        if (first || line != printed)
            printLine(line);
        printed = line;
        first = false;
    };
    auto readAgain = [&] {
        try {
            values = host.readAll();
        } catch (const CtlFailure &) {
            values.clear(); // gone again, or not answering: nothing to show
        }
        print();
    };
    Follower follower(bus, host.name(), [&](const QVariantMap &changed) {
        if (values.isEmpty())
            return readAgain();
        values.insert(changed);
        print();
    });
    QDBusServiceWatcher watcher(host.name(), bus, QDBusServiceWatcher::WatchForOwnerChange);
    QObject::connect(&watcher, &QDBusServiceWatcher::serviceOwnerChanged, &watcher,
                     [&](const QString &, const QString &, const QString &owner) {
                         if (owner.isEmpty()) {
                             values.clear();
                             return print();
                         }
                         readAgain();
                     });
    follower.watchOutput();
    readAgain();
    return QCoreApplication::exec();
}

int run(const QStringList &arguments)
{
    QCommandLineParser options;
    using Names = QStringList;
    const QCommandLineOption hostOption(Names{"p", "host"}, {}, "name"), listOption(Names{"l", "list"}),
        followOption(Names{"f", "follow"}), formatOption("format", {}, "template"),
        timeoutOption("timeout", {}, "ms", QString::number(contract::callTimeoutMs)), waitOption("wait", {}, "seconds", "60"),
        noCheckOption("no-check"), helpOption(Names{"h", "help"}), versionOption(Names{"v", "version"});
    options.addOptions({hostOption, listOption, followOption, formatOption, timeoutOption, waitOption, noCheckOption,
                        helpOption, versionOption});
    if (!options.parse(arguments))
        throw usageError(options.errorText());
    if (options.isSet(helpOption)) {
        printLine(QString::fromUtf8(usage).trimmed());
        return 0;
    }
    if (options.isSet(versionOption)) {
        printLine(QStringLiteral("palvoctl " PALVO_VERSION));
        return 0;
    }
    bool ok = false;
    const int timeoutMs = options.value(timeoutOption).toInt(&ok);
    if (!ok || timeoutMs <= 0)
        throw usageError(QStringLiteral("--timeout takes a number of milliseconds"));
    const int waitSeconds = options.value(waitOption).toInt(&ok);
    if (!ok || waitSeconds <= 0)
        throw usageError(QStringLiteral("--wait takes a number of seconds"));
    const QString format = checkedFormat(options.isSet(formatOption) ? options.value(formatOption) : defaultLine);

    QStringList words = options.positionalArguments();
    const QString command = words.value(0);
    static const QStringList commands{"mode", "audio", "rig", "transmitting", "tx", "rx", "clear", "macro", "send"};
    if (!command.isEmpty() && !commands.contains(command))
        throw usageError(QStringLiteral("unknown command '%1'").arg(command));
    const bool takesArgument = command == u"macro" || command == u"send";
    const bool mayTakeArgument = command == u"mode" || command == u"audio" || command == u"rig";
    if (words.size() > 2 || (words.size() == 2 && !takesArgument && !mayTakeArgument) || (takesArgument && words.size() < 2))
        throw usageError(command.isEmpty() ? QStringLiteral("one command at a time")
                                           : QStringLiteral("'%1' takes %2").arg(command, takesArgument ? "one argument" : mayTakeArgument ? "at most one argument" : "no argument"));

    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        throw CtlFailure{CtlFailure::NoHost, QStringLiteral("no D-Bus session bus: %1").arg(bus.lastError().message())};
    if (options.isSet(listOption)) {
        const QStringList lines = HostBus::list(bus, timeoutMs);
        if (lines.isEmpty())
            throw CtlFailure{CtlFailure::NoHost, QStringLiteral("Palvo2 is not loaded: no host program on the session bus")};
        for (const QString &line : lines)
            printLine(line);
        return 0;
    }
    const HostBus host(bus, options.value(hostOption), timeoutMs);
    if (options.isSet(followOption)) {
        if (!command.isEmpty())
            throw usageError(QStringLiteral("--follow takes no command"));
        return follow(host, bus, format);
    }

    if (words.size() < 2 && (command.isEmpty() || mayTakeArgument || command == u"transmitting")) {
        const QVariantMap values = host.readAll();
        static const QMap<QString, QString> single{
            {"mode", "{mode}"}, {"audio", "{audio}"}, {"rig", "{rig}"}, {"transmitting", "{tx}"}};
        printLine(formatValues(command.isEmpty() ? format : single.value(command), values, host));
        return 0;
    }
    const QString argument = words.value(1);
    QString macro;
    if (command == u"mode") {
        macro = QStringLiteral("<MODE:%1>").arg(argument);
    } else if (command == u"audio") {
        macro = QStringLiteral("<AUDIOFQ:%1>").arg(argument);
    } else if (command == u"rig") {
        QString why;
        const std::optional<double> khz = rigKhz(argument, &why);
        if (!khz)
            throw usageError(why);
        macro = QStringLiteral("<ZFQ:%1>").arg(number(*khz));
    } else if (command == u"tx") {
        macro = QStringLiteral("<TX>");
    } else if (command == u"rx") {
        macro = QStringLiteral("<RXANDCLEAR>");
    } else if (command == u"clear") {
        macro = QStringLiteral("<CLEARTXWINDOW><CLEARRXWINDOW>");
    } else if (command == u"send") {
        return send(host, bus, argument, waitSeconds);
    } else {
        macro = argument;
    }
    if (!options.isSet(noCheckOption) || command != u"macro") {
        if (const QString problem = macroProblem(macro); !problem.isEmpty())
            throw CtlFailure{CtlFailure::Usage, problem + QStringLiteral("; nothing was sent")};
    }
    host.execute(macro);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    std::signal(SIGPIPE, SIG_IGN); // a closed output is seen where it is written
    // Every failure is said once, in palvoctl's own words: Qt's warnings stay out of scripts.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("palvoctl"));
    try {
        return run(QCoreApplication::arguments());
    } catch (const CtlFailure &failure) {
        fail(failure);
    }
}
