// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "bridgelog.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include <functional>

class BridgeView;
class CallRunner;
class Presence;

// What the main of every bridge does around its backend: its name and version, the log, the
// option every bridge takes (--timeout), and serving on the session bus: the object at the
// host's path, and the names kept while the program answers.
class BridgeMain
{
public:
    // program: as messages name it; key: the last part of the bridge's own bus name.
    BridgeMain(int &argc, char **argv, const QString &name, const QString &description, const QString &program,
               const QString &key);

    QCommandLineParser options; // the bridge's own are added before process()
    BridgeLog &log() { return m_log; }

    // Processes the options; --help and --version end the program here, and so does an unknown
    // option or an argument, with status 2. False, and said, when --timeout is not one the bridge
    // takes.
    bool process();
    int timeoutMs() const { return m_timeoutMs; }

    // Serves until the event loop ends; 1 when it cannot. started runs once the name is kept.
    int serve(BridgeView &view, CallRunner &runner, Presence &presence, const QString &lookingFor,
              const std::function<void()> &started = {});

private:
    QCoreApplication m_app;
    QTextStream m_errors;
    BridgeLog m_log;
    const QString m_program;
    const QString m_key;
    const QCommandLineOption m_timeout;
    int m_timeoutMs = 0;
};
