// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class QTextStream;

// What the bridge says, a line each. On a terminal or in a file a line starts with the bridge's
// name ("name: ..."). When stderr is the journal, a line starts with its priority instead
// ("<3>..."), which systemd takes off and keeps, so that "journalctl -p warning" shows the
// errors and warnings alone; the journal names the bridge itself.
class BridgeLog
{
public:
    BridgeLog(QTextStream &stream, const QString &name, bool journal = stderrIsJournal());

    void error(const QString &text) { say(3, text); }   // what fails a call or stops the bridge
    void warning(const QString &text) { say(4, text); } // what it skips, refuses or undoes
    void info(const QString &text) { say(6, text); }    // the program found or gone

    // systemd names the journal's stream in JOURNAL_STREAM ("device:inode"); a program whose
    // stderr was sent elsewhere may still have the variable, so stderr itself is compared.
    static bool stderrIsJournal();

private:
    void say(int priority, const QString &text);

    QTextStream &m_stream;
    QString m_prefix;
    bool m_journal;
};
