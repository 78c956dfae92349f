// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "host.h"

#include <QWidget>

#include <functional>
#include <memory>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
struct HostFailure;

// The panel window: its controls, the host it is attached to, and its event handlers.
class Form1 : public QWidget
{
    Q_OBJECT

public:
    static const QString caption;

    explicit Form1(HostAttach attach, QWidget *parent = nullptr);
    ~Form1() override;

    // Runs once, after construction and before the window is first shown.
    void Form_Load();

    // How the program ends after a reported failure; tests replace it.
    std::function<void(int exitCode)> endProgram;

    QLabel *Label1, *Label2, *Label3, *Label4, *Label5, *Label6, *Label7, *Label8, *Label9;
    QComboBox *Combo1;
    QLineEdit *Text1, *Text2, *Text3;
    QPushButton *Command1, *Command2, *Command3, *Command4, *Command5, *Command6;
    QTimer *Timer1;

    std::unique_ptr<Host> host;
    bool hostLoaded = false;

    void Timer1_Timer();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void Command5_Click();
    void Command6_Click();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void Form_Unload();

    // Handlers act only while a host is attached and no failure has been reported.
    bool canUseHost() const { return hostLoaded && host && !m_failed; }
    void sendMacro(const QString &macro);
    // Where every failure that leaves a handler ends: reported once, then the program ends.
    void reportFailure(const HostFailure &failure);

    HostAttach m_attach;
    bool m_failed = false;
};
