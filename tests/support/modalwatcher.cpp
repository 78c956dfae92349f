// SPDX-License-Identifier: GPL-3.0-or-later
#include "modalwatcher.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>

ModalWatcher::ModalWatcher(std::function<void(QMessageBox *)> onShown)
    : m_onShown(std::move(onShown))
{
    m_timer.setInterval(20);
    connect(&m_timer, &QTimer::timeout, this, &ModalWatcher::poll);
    m_timer.start();
}

void ModalWatcher::poll()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || !box->isVisible() || box->property("answered").toBool())
        return;
    box->setProperty("answered", true);
    texts.append(box->text());
    titles.append(box->windowTitle());
    icons.append(box->icon());
    buttons.append(int(box->standardButtons()));
    formats.append(box->textFormat());
    if (m_onShown)
        m_onShown(box);
    box->button(QMessageBox::Ok)->click();
}
