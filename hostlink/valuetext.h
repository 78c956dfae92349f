// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLocale>
#include <QString>
#include <QVariant>

// Host values turned into text the way the panel shows them. Each throws HostFailure
// for a value with no text (or numeric) form.

// Text as it stands; integers in decimal; other numbers as numberText; booleans
// "True"/"False"; an empty (invalid) value gives "".
QString valueText(const QVariant &value, const QLocale &locale = QLocale::system());

// The value as a number: numbers as they are, text that parses as one, an empty value as 0.
double valueNumber(const QVariant &value, const QLocale &locale = QLocale::system());

// No digit grouping, no separator for whole numbers, at most 15 significant digits and no
// trailing zeros; an exponent from 1e15 up and below 1e-4. Where Qt's form for the locale
// would not read back in it, the number is written as in C, with the locale's decimal point.
QString numberText(double number, const QLocale &locale = QLocale::system());
