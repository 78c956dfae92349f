// SPDX-License-Identifier: GPL-3.0-or-later
#include "macrocheck.h"

#include "macrosteps.h"

#include <QRegularExpression>

namespace {

// The first "<" followed by a letter in a text step: a tag mistyped, or one left unclosed.
QString tagLike(const QString &text)
{
    static const QRegularExpression opening(QStringLiteral("<[A-Za-z][^<>]{0,30}>?"));
    const QRegularExpressionMatch match = opening.match(text);
    return match.hasMatch() ? match.captured() : QString();
}

} // namespace

QString macroProblem(const QString &macro)
{
    const MacroPlan plan = planMacros(macro);
    if (!plan.ignored.isEmpty())
        return QStringLiteral("%1 would be skipped: %2").arg(plan.ignored[0].tag, plan.ignored[0].why);
    for (const MacroStep &step : plan.steps) {
        if (step.action != MacroStep::Action::Text)
            continue;
        if (const QString like = tagLike(step.text); !like.isEmpty())
            return QStringLiteral("%1 is not a tag (tags are upper case, with a colon before the argument, and "
                                  "closed with \">\"): it would go out as transmit text")
                .arg(like);
    }
    return {};
}

bool isPlainText(const QString &macro)
{
    const QList<MacroStep> steps = planMacros(macro).steps;
    return macroProblem(macro).isEmpty() && std::all_of(steps.cbegin(), steps.cend(), [](const MacroStep &step) {
               return step.action == MacroStep::Action::Text;
           });
}

std::optional<double> rigKhz(const QString &argument, QString *why)
{
    static const QRegularExpression form(QStringLiteral("^\\s*([0-9]+(?:\\.[0-9]+)?)\\s*(Hz|kHz|MHz)?\\s*$"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = form.match(argument);
    if (!match.hasMatch()) {
        *why = QStringLiteral("'%1' is not a frequency: give kHz (7074), or a unit (14.074MHz, 7074kHz, 7074000Hz)")
                   .arg(argument);
        return std::nullopt;
    }
    const double number = match.captured(1).toDouble();
    const QString unit = match.captured(2).toLower();
    if (unit.isEmpty() && number >= 1e6) {
        *why = QStringLiteral("'%1' is ambiguous: it would be %2 GHz in kHz; give a unit (%1Hz, or kHz, MHz)")
                   .arg(argument)
                   .arg(number / 1e6);
        return std::nullopt;
    }
    const double khz = unit == u"hz" ? number / 1000 : unit == u"mhz" ? number * 1000 : number;
    if (khz <= 0) {
        *why = QStringLiteral("'%1' is not a rig frequency").arg(argument);
        return std::nullopt;
    }
    return khz;
}
