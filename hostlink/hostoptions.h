// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

class QCommandLineParser;

// The command line of a program that serves the host: --help and --version end it with status 0;
// an unknown option, an option without its value and a stray argument end it with one line on
// stderr, naming the program, and status 2. The parser has its options, help and version among
// them.
void parseHostOptions(QCommandLineParser &options, const QStringList &arguments);
