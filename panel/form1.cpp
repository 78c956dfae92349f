// SPDX-License-Identifier: GPL-3.0-or-later
#include "form1.h"

#include <QAccessibleWidget>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <limits>

namespace {

constexpr int twipsPerPixel = 15;

QRect twips(int left, int top, int width, int height)
{
    return {left / twipsPerPixel, top / twipsPerPixel, width / twipsPerPixel, height / twipsPerPixel};
}

template <typename Control>
Control *place(QWidget *form, const char *name, const QRect &geometry)
{
    auto *control = new Control(form);
    control->setObjectName(QString::fromLatin1(name));
    control->setGeometry(geometry);
    return control;
}

QLabel *label(QWidget *form, const char *name, const QString &caption, const QRect &geometry)
{
    auto *control = place<QLabel>(form, name, geometry);
    control->setTextFormat(Qt::PlainText); // host values are shown as they come, never as markup
    control->setText(caption);
    return control;
}

QLineEdit *textBox(QWidget *form, const char *name, const QString &text, const QRect &geometry)
{
    auto *control = place<QLineEdit>(form, name, geometry);
    control->setMaxLength(std::numeric_limits<int>::max()); // not Qt's 32767: no limit at all
    control->setText(text);
    control->setCursorPosition(0); // show the start of a text longer than the box
    return control;
}

QPushButton *button(QWidget *form, const char *name, const QString &caption, const QRect &geometry)
{
    auto *control = place<QPushButton>(form, name, geometry);
    control->setText(caption);
    control->setAutoDefault(false);
    return control;
}

// Without this a plain QWidget window is a "filler" to a screen reader, not a frame
// it can announce by its title.
QAccessibleInterface *formAsFrame(const QString &className, QObject *object)
{
    if (className == u"Form1" && object->isWidgetType())
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Window);
    return nullptr;
}

} // namespace

const QString Form1::caption = QStringLiteral("Palvo automation test");

Form1::Form1(HostAttach attach, QWidget *parent)
    : QWidget(parent), endProgram([](int exitCode) { QCoreApplication::exit(exitCode); }),
      m_attach(std::move(attach))
{
    setObjectName(QStringLiteral("Form1"));
    [[maybe_unused]] static const bool asFrame = (QAccessible::installFactory(formAsFrame), true);
    setWindowTitle(caption);
    setFixedSize(twips(0, 0, 5040, 2760).size());

    Label1 = label(this, "Label1", QStringLiteral("Mode"), twips(120, 240, 495, 255));
    Combo1 = place<QComboBox>(this, "Combo1", twips(720, 240, 1215, 315));
    Command6 = button(this, "Command6", QStringLiteral("Set"), twips(2520, 240, 495, 375));
    Label8 = label(this, "Label8", QStringLiteral("BPSK31"), twips(3360, 360, 1575, 255));

    Label2 = label(this, "Label2", QStringLiteral("Audio"), twips(120, 840, 495, 255));
    Text2 = textBox(this, "Text2", QStringLiteral("1000"), twips(720, 720, 975, 405));
    Label3 = label(this, "Label3", QStringLiteral("Hz"), twips(1920, 840, 495, 255));
    Command2 = button(this, "Command2", QStringLiteral("Set"), twips(2520, 720, 495, 375));
    Label6 = label(this, "Label6", QStringLiteral("1000 Hz"), twips(3360, 840, 1455, 255));

    Label4 = label(this, "Label4", QStringLiteral("Rig"), twips(120, 1320, 495, 255));
    Text3 = textBox(this, "Text3", QStringLiteral("14100"), twips(720, 1200, 975, 375));
    Label5 = label(this, "Label5", QStringLiteral("kHz"), twips(1920, 1320, 375, 255));
    Command3 = button(this, "Command3", QStringLiteral("Set"), twips(2520, 1200, 495, 375));
    Label7 = label(this, "Label7", QStringLiteral("14100 kHz"), twips(3360, 1320, 1455, 255));

    Label9 = label(this, "Label9", QStringLiteral("Macro"), twips(120, 1680, 615, 255));
    Text1 = textBox(this, "Text1", QStringLiteral("<CLEARTXWINDOW><CLEARRXWINDOW>"),
                    twips(720, 1680, 3615, 375));
    Command1 = button(this, "Command1", QStringLiteral("Run"), twips(4440, 1680, 495, 375));

    Command5 = button(this, "Command5", QStringLiteral("TX"), twips(240, 2280, 1335, 375));
    Command4 = button(this, "Command4", QStringLiteral("RX"), twips(1800, 2280, 1335, 375));

    // A screen reader names each input by the label beside it and tells the
    // buttons with the same caption, and the live values, apart by description.
    Label1->setBuddy(Combo1);
    Label2->setBuddy(Text2);
    Label4->setBuddy(Text3);
    Label9->setBuddy(Text1);
    Command6->setAccessibleDescription(QStringLiteral("Sends the chosen mode to the host"));
    Command2->setAccessibleDescription(QStringLiteral("Sends the audio frequency to the host"));
    Command3->setAccessibleDescription(QStringLiteral("Sends the rig frequency to the host"));
    Command1->setAccessibleDescription(QStringLiteral("Sends the macro text to the host"));
    Command5->setAccessibleDescription(QStringLiteral("Tells the host to transmit"));
    Command4->setAccessibleDescription(QStringLiteral("Tells the host to go back to receive"));
    Label8->setAccessibleDescription(QStringLiteral("Mode reported by the host"));
    Label6->setAccessibleDescription(QStringLiteral("Audio frequency reported by the host"));
    Label7->setAccessibleDescription(QStringLiteral("Rig frequency reported by the host"));

    QWidget *const focusOrder[] = {Combo1, Text2, Text3, Command2, Command3,
                                   Command4, Command5, Text1, Command1, Command6};
    for (std::size_t i = 1; i < std::size(focusOrder); ++i)
        setTabOrder(focusOrder[i - 1], focusOrder[i]);
    Combo1->setFocus();

    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &Form1::Command4_Click);
    connect(Command5, &QPushButton::clicked, this, &Form1::Command5_Click);
    connect(Command6, &QPushButton::clicked, this, &Form1::Command6_Click);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(500);
    connect(Timer1, &QTimer::timeout, this, &Form1::Timer1_Timer);
    Timer1->start();
}

Form1::~Form1() = default;

void Form1::closeEvent(QCloseEvent *event)
{
    Form_Unload();
    event->accept();
}
