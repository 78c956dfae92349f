// SPDX-License-Identifier: GPL-3.0-or-later
#include "hostoptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include <cstdlib>

void parseHostOptions(QCommandLineParser &options, const QStringList &arguments)
{
    const auto refuse = [](QString why) {
        if (why.endsWith(u'.'))
            why.chop(1);
        const QString name = QCoreApplication::applicationName();
        QTextStream(stderr) << name << ": " << why << " (" << name << " --help lists the options)" << Qt::endl;
        std::exit(2);
    };
    if (!options.parse(arguments))
        refuse(options.errorText());
    if (const QStringList stray = options.positionalArguments(); !stray.isEmpty())
        refuse(QStringLiteral("takes no arguments, only options: \"%1\"").arg(stray.first()));
    if (options.isSet(QStringLiteral("help")))
        options.showHelp(0);
    if (options.isSet(QStringLiteral("version")))
        options.showVersion();
}
