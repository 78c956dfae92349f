// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

// Whether the program answers, as the backend hears it. Only the program's own silence counts:
// a request that got no answer within its time, or whose connection was refused, reset or
// closed before the answer, with nothing else answered since it was sent. A call that ran out
// of time behind another, or a slow step, says nothing of the program.
class Presence : public QObject
{
    Q_OBJECT

public:
    // A stamp taken as a request goes out, for silent().
    quint64 answers() const { return m_answers; }

    void answered();
    void silent(const QString &why, quint64 answersWhenSent);

signals:
    void answering();                     // at every answer
    void silenced(const QString &why);

private:
    quint64 m_answers = 0;
};
