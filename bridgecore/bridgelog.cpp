// SPDX-License-Identifier: GPL-3.0-or-later
#include "bridgelog.h"

#include "macrosteps.h"

#include <QTextStream>

#include <sys/stat.h>
#include <unistd.h>

BridgeLog::BridgeLog(QTextStream &stream, const QString &name, bool journal)
    : m_stream(stream), m_prefix(name + QStringLiteral(": ")), m_journal(journal)
{
}

bool BridgeLog::stderrIsJournal()
{
    const QList<QByteArray> stream = qgetenv("JOURNAL_STREAM").split(':');
    struct stat err = {};
    if (stream.size() != 2 || fstat(STDERR_FILENO, &err) != 0)
        return false;
    bool devOk = false, inodeOk = false;
    const qulonglong dev = stream[0].toULongLong(&devOk);
    const qulonglong inode = stream[1].toULongLong(&inodeOk);
    return devOk && inodeOk && dev == qulonglong(err.st_dev) && inode == qulonglong(err.st_ino);
}

void BridgeLog::say(int priority, const QString &text)
{
    // One line whatever the text holds: a line break in a program's fault text would make a line of
    // its own, with a priority of the text's choosing.
    if (m_journal)
        m_stream << '<' << priority << '>' << oneLine(text) << Qt::endl;
    else
        m_stream << m_prefix << oneLine(text) << Qt::endl;
}
