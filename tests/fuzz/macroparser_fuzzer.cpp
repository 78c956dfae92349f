// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target: the macro tag parser and the steps made of its items. Any text parses;
// the items must give back the text exactly, and each must be what the parser promises; every
// item becomes one step or one ignored tag, and every step's argument keeps the rules.
#include "macroparser.h"
#include "macrosteps.h"

#include <QRegularExpression>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

[[noreturn]] void broken(const char *what)
{
    fprintf(stderr, "macro parser: %s\n", what);
    abort();
}

bool isKeywordChar(QChar c)
{
    return (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_';
}

void checkPlan(const QString &input, const QList<MacroItem> &items)
{
    using Action = MacroStep::Action;
    const MacroPlan plan = planMacros(input);
    if (plan.steps.size() + plan.ignored.size() != items.size())
        broken("an item neither made a step nor was ignored");
    for (const IgnoredTag &ignored : plan.ignored) {
        if (ignored.message().contains(u'\n') || ignored.message().contains(u'\r'))
            broken("a message of more than one line");
    }
    for (const MacroStep &step : plan.steps) {
        const bool whole = step.hz == std::floor(step.hz);
        if (step.action == Action::AudioFq && (!whole || step.hz < 0 || step.hz > 2147483647))
            broken("an audio frequency that is not whole hertz");
        if (step.action == Action::RigFq && (!whole || !std::isfinite(step.hz) || step.hz < 1))
            broken("a rig frequency that is not positive whole hertz");
        if (step.action == Action::Mode
            && (step.text.isEmpty() || step.text.contains(QRegularExpression("[^A-Za-z0-9-]"))))
            broken("a mode's name with other characters");
        if (step.action == Action::Text && step.text != step.source)
            broken("text that is not as it stands");
    }
}

void check(const QString &input)
{
    const QList<MacroItem> items = parseMacros(input);
    QString rebuilt;
    bool lastWasText = false;
    for (const MacroItem &item : items) {
        if (item.kind == MacroItem::Kind::Text) {
            if (item.text.isEmpty())
                broken("empty text item");
            if (lastWasText)
                broken("two text items in a row");
            if (!item.keyword.isEmpty() || !item.argument.isEmpty() || item.hasArgument)
                broken("text item with tag fields");
            rebuilt += item.text;
            lastWasText = true;
            continue;
        }
        if (item.keyword.isEmpty() || !std::all_of(item.keyword.begin(), item.keyword.end(), isKeywordChar))
            broken("bad keyword");
        if (item.argument.contains(u'<') || item.argument.contains(u'>'))
            broken("angle bracket in an argument");
        if (!item.hasArgument && !item.argument.isEmpty())
            broken("argument without a colon");
        if (!item.text.isEmpty())
            broken("tag item with text");
        rebuilt += u'<' + item.keyword + (item.hasArgument ? u':' + item.argument : QString()) + u'>';
        lastWasText = false;
    }
    if (rebuilt != input)
        broken("items do not give back the text");
    if (parseMacros(rebuilt) != items)
        broken("parsing is not repeatable");
    checkPlan(input, items);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The first byte chooses how the rest becomes text: UTF-8 as typed, or raw UTF-16
    // (lone surrogates included) as it may arrive over D-Bus.
    if (size == 0)
        return 0;
    const char *bytes = reinterpret_cast<const char *>(data + 1);
    const qsizetype length = qsizetype(size - 1);
    if (data[0] & 1) {
        QString text(length / 2, Qt::Uninitialized);
        memcpy(text.data(), bytes, size_t(text.size()) * 2);
        check(text);
    } else {
        check(QString::fromUtf8(bytes, length));
    }
    return 0;
}
