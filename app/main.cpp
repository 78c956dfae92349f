#include "dbushost.h"
#include "form1.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("palvo-panel"));
    QApplication::setApplicationDisplayName(Form1::caption);
    QApplication::setDesktopFileName(QStringLiteral("net.palvo.panel")); // the installed desktop entry

    Form1 form([] { return std::unique_ptr<Host>(DBusHost::attachSessionBus()); });
    form.Form_Load();
    form.show();
    return QApplication::exec();
}
