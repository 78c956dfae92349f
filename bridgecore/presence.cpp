// SPDX-License-Identifier: GPL-3.0-or-later
#include "presence.h"

void Presence::answered()
{
    ++m_answers;
    emit answering();
}

void Presence::silent(const QString &why, quint64 answersWhenSent)
{
    if (answersWhenSent == m_answers)
        emit silenced(why);
}
