// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>

// One piece of a macro text: a tag such as <TX> or <MODE:RTTY>, or plain text between tags.
struct MacroItem
{
    enum class Kind { Tag, Text };

    Kind kind = Kind::Text;
    QString keyword;  // tags: the upper-case keyword, "MODE"
    QString argument; // tags: what follows the colon, "RTTY"
    bool hasArgument = false;
    QString text;     // text: the characters as they stand

    bool operator==(const MacroItem &) const = default;
};

// Splits a macro text into tags and text, in order. A tag is "<", a keyword of upper-case
// letters, digits and underscores, optionally ":" and an argument without "<" or ">", then ">".
// Anything else, a stray "<" included, is text; adjacent text is one item. Never fails.
QList<MacroItem> parseMacros(const QString &macroText);
