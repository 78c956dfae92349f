// SPDX-License-Identifier: GPL-3.0-or-later
#include "fldigimodes.h"

#include "macrosteps.h"

#include <QList>
#include <QPair>

namespace fldigimodes {

namespace {

// The panel's names, with the modem set_by_name is given. SSB, AM and FM are fldigi's SSB modem
// (no modem at all) with the rig mode they name.
const QList<QPair<QString, QString>> modems = {
    {"SSB", "SSB"},       {"AM", "SSB"},         {"FM", "SSB"},          {"CW", "CW"},   {"BPSK31", "BPSK31"},
    {"QPSK31", "QPSK31"}, {"RTTY", "RTTY"},      {"AMTOR", "SITORB"},    {"MFSK", "MFSK16"}, {"THROB", "THROB1"},
    {"MT63", "MT63-1KL"}, {"HELL", "FELDHELL"},  {"FAX", "WEFAX576"},
};

} // namespace

QStringList panelNames()
{
    QStringList names;
    for (const auto &[mode, modem] : modems)
        names << mode;
    return names;
}

QString modemFor(const QString &mode, const QStringList &fldigiNames)
{
    const auto it = std::find_if(modems.cbegin(), modems.cend(), [&](const auto &m) { return m.first == mode; });
    if (it != modems.cend())
        return it->second;
    return isModeName(mode) && fldigiNames.contains(mode) ? mode : QString();
}

QStringList taken(const QStringList &fldigiNames)
{
    QStringList names = panelNames();
    for (const QString &name : fldigiNames) {
        if (!names.contains(name) && name != u"NULL" && isModeName(name)) // one a tag cannot name is left out
            names << name;
    }
    return names;
}

} // namespace fldigimodes
