// SPDX-License-Identifier: GPL-3.0-or-later
#include "macrosteps.h"

#include "macroparser.h"

#include <QStringList>

#include <cmath>

namespace {

using Action = MacroStep::Action;

struct TagRule
{
    const char *keyword;
    Action action;
    bool takesArgument;
};

constexpr TagRule rules[] = {
    {"AUDIOFQ", Action::AudioFq, true},       {"ZFQ", Action::RigFq, true},
    {"MODE", Action::Mode, true},             {"TX", Action::Transmit, false},
    {"RX", Action::Receive, false},           {"RXANDCLEAR", Action::ReceiveNow, false},
    {"CLEARTXWINDOW", Action::ClearTx, false}, {"CLEARRXWINDOW", Action::ClearRx, false},
};

// The step for one tag, or the reason it is ignored.
QString checkTag(const MacroItem &item, MacroStep &step)
{
    const TagRule *rule = nullptr;
    for (const TagRule &r : rules) {
        if (item.keyword == QLatin1StringView(r.keyword))
            rule = &r;
    }
    if (!rule)
        return QStringLiteral("unknown tag");
    if (rule->takesArgument != item.hasArgument)
        return rule->takesArgument ? QStringLiteral("it needs an argument")
                                   : QStringLiteral("it takes no argument");
    step.action = rule->action;
    const QString argument = item.argument.trimmed();
    bool ok = false;
    switch (rule->action) {
    case Action::AudioFq: {
        const int hz = argument.toInt(&ok);
        if (!ok || hz < 0)
            return QStringLiteral("the audio frequency is not a whole number of hertz");
        step.hz = hz;
        break;
    }
    case Action::RigFq: {
        const double hz = std::round(argument.toDouble(&ok) * 1000);
        if (!ok || !std::isfinite(hz) || hz < 1)
            return QStringLiteral("the rig frequency is not a positive number of kilohertz");
        step.hz = hz;
        break;
    }
    case Action::Mode:
        if (!isModeName(argument))
            return QStringLiteral("not a mode's name (letters, digits and hyphens)");
        step.text = argument;
        break;
    default:
        break;
    }
    return {};
}

} // namespace

QString IgnoredTag::message() const
{
    return oneLine(QStringLiteral("ignored %1: %2").arg(tag, why));
}

MacroPlan planMacros(const QString &macroText)
{
    MacroPlan plan;
    for (const MacroItem &item : parseMacros(macroText)) {
        MacroStep step;
        if (item.kind == MacroItem::Kind::Text) {
            step.source = step.text = item.text;
            plan.steps.append(step);
            continue;
        }
        step.source = item.hasArgument ? QStringLiteral("<%1:%2>").arg(item.keyword, item.argument)
                                       : QStringLiteral("<%1>").arg(item.keyword);
        const QString why = checkTag(item, step);
        if (why.isEmpty())
            plan.steps.append(step);
        else
            plan.ignored.append({step.source, why});
    }
    return plan;
}

bool isModeName(const QString &name)
{
    return !name.isEmpty() && name.size() <= 32 && std::all_of(name.cbegin(), name.cend(), [](QChar c) {
        return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'-';
    });
}

QString modeRefusal(const QString &host, const QString &mode, const QStringList &modes)
{
    if (modes.contains(mode))
        return {};
    return QStringLiteral("%1 has no mode %2; it has %3").arg(host, mode, modes.join(QStringLiteral(", ")));
}

QString oneLine(QString text)
{
    return text.replace(u'\\', QStringLiteral("\\\\"))
        .replace(u'\n', QStringLiteral("\\n"))
        .replace(u'\r', QStringLiteral("\\r"));
}
