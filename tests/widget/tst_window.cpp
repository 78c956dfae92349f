// SPDX-License-Identifier: GPL-3.0-or-later
#include "fakehost.h"
#include "form1.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

// The window as laid out: every control's kind, name, text and place, in twips.
class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void window();
    void controls_data();
    void controls();
    void textBoxesShowTheirStart();
    void liveLabelsShowTextAsItStands();
    void tabOrder();
    void resizingMovesNothing();
    void timerTicksFromCreation();
};

void TestWindow::window()
{
    Form1 form(attachTo(runningHost()));
    QCOMPARE(form.windowTitle(), QStringLiteral("Palvo automation test"));
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.size(), QSize(5040 / 15, 2760 / 15));
    QCOMPARE(form.layout(), nullptr);
}

void TestWindow::controls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QRect>("twips");

    auto row = [](const char *name, const char *kind, const QString &text, int l, int t, int w, int h) {
        QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(kind) << text
                            << QRect(l, t, w, h);
    };
    row("Label1", "QLabel", "Mode", 120, 240, 495, 255);
    row("Combo1", "QComboBox", "SSB", 720, 240, 1215, 315);
    row("Command6", "QPushButton", "Set", 2520, 240, 495, 375);
    row("Label8", "QLabel", "BPSK31", 3360, 360, 1575, 255);
    row("Label2", "QLabel", "Audio", 120, 840, 495, 255);
    row("Text2", "QLineEdit", "1000", 720, 720, 975, 405);
    row("Label3", "QLabel", "Hz", 1920, 840, 495, 255);
    row("Command2", "QPushButton", "Set", 2520, 720, 495, 375);
    row("Label6", "QLabel", "1000 Hz", 3360, 840, 1455, 255);
    row("Label4", "QLabel", "Rig", 120, 1320, 495, 255);
    row("Text3", "QLineEdit", "14100", 720, 1200, 975, 375);
    row("Label5", "QLabel", "kHz", 1920, 1320, 375, 255);
    row("Command3", "QPushButton", "Set", 2520, 1200, 495, 375);
    row("Label7", "QLabel", "14100 kHz", 3360, 1320, 1455, 255);
    row("Label9", "QLabel", "Macro", 120, 1680, 615, 255);
    row("Text1", "QLineEdit", "<CLEARTXWINDOW><CLEARRXWINDOW>", 720, 1680, 3615, 375);
    row("Command1", "QPushButton", "Run", 4440, 1680, 495, 375);
    row("Command5", "QPushButton", "TX", 240, 2280, 1335, 375);
    row("Command4", "QPushButton", "RX", 1800, 2280, 1335, 375);
}

void TestWindow::controls()
{
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(QString, text);
    QFETCH(QRect, twips);

    Form1 form(attachTo(runningHost()));
    form.Form_Load();
    auto *control = form.findChild<QWidget *>(name);
    QVERIFY(control);
    QCOMPARE(control->parentWidget(), &form);
    QCOMPARE(QString::fromLatin1(control->metaObject()->className()), kind);
    QCOMPARE(control->geometry(),
             QRect(twips.x() / 15, twips.y() / 15, twips.width() / 15, twips.height() / 15));
    if (auto *label = qobject_cast<QLabel *>(control))
        QCOMPARE(label->text(), text);
    else if (auto *edit = qobject_cast<QLineEdit *>(control))
        QCOMPARE(edit->text(), text);
    else if (auto *button = qobject_cast<QPushButton *>(control))
        QCOMPARE(button->text(), text);
    else if (auto *combo = qobject_cast<QComboBox *>(control)) {
        QCOMPARE(combo->currentText(), text);
        QVERIFY(!combo->isEditable());
    }
}

// A text box has no length limit: a pasted megabyte goes out whole.
void TestWindow::textBoxesShowTheirStart()
{
    auto state = runningHost();
    Form1 form(attachTo(state));
    form.Timer1->stop();
    form.Form_Load();
    const QString pasted = QString(1000000, u'x') + QStringLiteral("<TX>");
    QGuiApplication::clipboard()->setText(pasted);
    for (QLineEdit *edit : {form.Text1, form.Text2, form.Text3}) {
        QCOMPARE(edit->cursorPosition(), 0);
        QVERIFY(!edit->validator());
        edit->selectAll();
        edit->paste();
        QCOMPARE(edit->text().size(), pasted.size());
    }
    form.Command1->click();
    QCOMPARE(state->calls.value(0).second, pasted);
}

void TestWindow::liveLabelsShowTextAsItStands()
{
    Form1 form(attachTo(runningHost()));
    for (QLabel *label : form.findChildren<QLabel *>())
        QCOMPARE(label->textFormat(), Qt::PlainText);
}

void TestWindow::tabOrder()
{
    Form1 form(attachTo(runningHost()));
    form.Form_Load();
    form.show();
    QApplication::setActiveWindow(&form);
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QCOMPARE(QApplication::focusWidget(), form.Combo1);

    const QList<QWidget *> expected = {form.Text2,    form.Text3,    form.Command2, form.Command3,
                                       form.Command4, form.Command5, form.Text1,    form.Command1,
                                       form.Command6, form.Combo1};
    for (QWidget *next : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), next);
    }
}

void TestWindow::resizingMovesNothing()
{
    Form1 form(attachTo(runningHost()));
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QList<QRect> before;
    for (QWidget *child : form.findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        before.append(child->geometry());
    form.resize(800, 600);
    QTest::qWait(50);
    QList<QRect> after;
    for (QWidget *child : form.findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        after.append(child->geometry());
    QCOMPARE(after, before);
    QCOMPARE(form.size(), QSize(336, 184));
}

void TestWindow::timerTicksFromCreation()
{
    Form1 form(attachTo(runningHost()));
    QCOMPARE(form.Timer1->objectName(), QStringLiteral("Timer1"));
    QVERIFY(form.Timer1->isActive());
    QCOMPARE(form.Timer1->interval(), 500);
}

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
