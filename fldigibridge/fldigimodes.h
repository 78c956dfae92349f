// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

// The modes <MODE:name> takes on fldigi: the panel's names that fldigi has, each with the modem
// it stands for, and every modem name fldigi lists itself (modem.get_names), so that a Mode read
// back can be set again.
namespace fldigimodes {

// The panel's names fldigi has; FSK31, PACKET, PACTOR and SSTV it has not.
QStringList panelNames();
// The modem set for a mode: the panel's name's own, or fldigi's name as it is; empty when
// neither.
QString modemFor(const QString &mode, const QStringList &fldigiNames);
// Every name taken: the panel's first, then fldigi's own not among them.
QStringList taken(const QStringList &fldigiNames);

} // namespace fldigimodes
