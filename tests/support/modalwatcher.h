// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QStringList>
#include <QTimer>

#include <functional>

class QMessageBox;

// Answers every modal message box as a user would, pressing OK, and remembers what each said.
// onShown runs while the box is open, inside its event loop.
class ModalWatcher : public QObject
{
    Q_OBJECT

public:
    explicit ModalWatcher(std::function<void(QMessageBox *)> onShown = {});

    QStringList texts;
    QStringList titles;
    QList<int> icons;
    QList<int> buttons; // the standard buttons each box offered
    QList<Qt::TextFormat> formats;

private:
    void poll();

    std::function<void(QMessageBox *)> m_onShown;
    QTimer m_timer;
};
