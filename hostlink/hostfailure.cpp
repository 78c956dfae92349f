// SPDX-License-Identifier: GPL-3.0-or-later
#include "hostfailure.h"

#include <QStringList>

#include <array>
#include <utility>

QString HostFailure::toString() const
{
    return QStringLiteral("Error %1: %2").arg(number).arg(text);
}

// What happened, for the operator; the D-Bus error's name is the text's first word.
QString HostFailure::inWords() const
{
    if (refused)
        return QStringLiteral("The host program declined the command and carried out none of it.");
    switch (number) {
    case NoTextForm:
    case NotANumber:
        return QStringLiteral("The host program sent a value the panel cannot show.");
    case BadReply:
        return QStringLiteral("The host program's answer made no sense to the panel.");
    case NoHost:
        return QStringLiteral("The panel has no session bus to reach the host program by.");
    }
    const char *gone = "The host program went away: start it, then the panel again.";
    const QString name = text.section(QStringLiteral(": "), 0, 0);
    if (name == u"org.freedesktop.DBus.Error.NoReply" && text.contains(u"recipient disconnected"))
        return QString::fromLatin1(gone);
    const std::array<std::pair<QStringList, const char *>, 5> said{{
        {{"NameHasNoOwner", "ServiceUnknown", "Disconnected"}, gone},
        {{"NoReply", "Timeout", "TimedOut"}, "The host program did not answer in time."},
        {{"Failed"}, "The host program could not do what the panel asked."},
        {{"UnknownMethod", "UnknownProperty", "UnknownInterface", "UnknownObject", "InvalidArgs", "InvalidSignature"},
         "The host program does not offer what the panel asked for: it may be of another version."},
        {{"AccessDenied"}, "The session bus did not let the panel reach the host program."},
    }};
    for (const auto &[names, words] : said)
        for (const QString &known : names)
            if (name == QStringLiteral("org.freedesktop.DBus.Error.") + known)
                return QString::fromLatin1(words);
    return QStringLiteral("Something went wrong between the panel and the host program.");
}
