// SPDX-License-Identifier: GPL-3.0-or-later
#include "macroparser.h"

namespace {

bool isKeywordChar(QChar c)
{
    return (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_';
}

// Reads a tag starting at the "<" at start; returns the index after its ">", or -1 if none.
qsizetype readTag(const QString &s, qsizetype start, MacroItem &tag)
{
    qsizetype i = start + 1;
    while (i < s.size() && isKeywordChar(s[i]))
        ++i;
    if (i == start + 1 || i == s.size())
        return -1;
    tag = MacroItem{MacroItem::Kind::Tag, s.mid(start + 1, i - start - 1), {}, false, {}};
    if (s[i] == u'>')
        return i + 1;
    if (s[i] != u':')
        return -1;
    const qsizetype argStart = i + 1;
    for (i = argStart; i < s.size(); ++i) {
        if (s[i] == u'<')
            return -1;
        if (s[i] == u'>') {
            tag.argument = s.mid(argStart, i - argStart);
            tag.hasArgument = true;
            return i + 1;
        }
    }
    return -1;
}

} // namespace

QList<MacroItem> parseMacros(const QString &macroText)
{
    QList<MacroItem> items;
    QString text;
    auto flushText = [&] {
        if (!text.isEmpty())
            items.append(MacroItem{MacroItem::Kind::Text, {}, {}, false, text});
        text.clear();
    };

    qsizetype i = 0;
    while (i < macroText.size()) {
        MacroItem tag;
        const qsizetype next = macroText[i] == u'<' ? readTag(macroText, i, tag) : -1;
        if (next < 0) {
            text.append(macroText[i]);
            ++i;
            continue;
        }
        flushText();
        items.append(tag);
        i = next;
    }
    flushText();
    return items;
}
