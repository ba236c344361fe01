#include "OperatorDialogs.h"
#include "PortList.h"
#include "PortSelectionWindow.h"
#include "ProgramState.h"
#include "QtSerialPort.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationDisplayName(tilu::kApplicationTitle);
    QApplication::setApplicationName(QStringLiteral("tilu"));
    // Task bars match the windows to the installed tilu.desktop (its name and icon) by this.
    QApplication::setDesktopFileName(QStringLiteral("tilu"));
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/tilu-256.png")));

    tilu::TProgramState state;
    tilu::SystemPortList portList(tilu::SystemPortList::ExtraPortsFromEnvironment());
    tilu::QtSerialPort comPort;
    tilu::QtOperatorDialogs dialogs;

    tilu::TForm2 form2(state, portList, comPort, dialogs);
    // exit(), not quit(): quit() would ask every window to close once more, and the exit
    // question has already been answered.
    QObject::connect(
        &form2, &tilu::TForm2::applicationEndRequested, &application,
        [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    form2.show();
    return QApplication::exec();
}
