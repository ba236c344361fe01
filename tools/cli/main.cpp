// tilu-cli: the configurator's settings files and emulator commands from a script.

#include "CliEnvironment.h"
#include "PortAccess.h"
#include "PortList.h"

#include <QCoreApplication>
#include <QDateTime>

#include <iostream>

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tilu-cli"));

    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();

    const tilu::SystemPortList portList(tilu::SystemPortList::ExtraPortsFromEnvironment());
    tilu::cli::TCliEnvironment env;
    env.PortNames = [&portList] { return portList.portNames(); };
    env.OpenPort = &tilu::cli::OpenSystemPort;
    env.Now = [] {
        const QDateTime now = QDateTime::currentDateTime();
        const QDate date = now.date();
        const QTime time = now.time();
        return tilu::TCivilDateTime{date.year(),   date.month(),  date.day(), time.hour(),
                                    time.minute(), time.second(), time.msec()};
    };
    env.Locale = QLocale::system();
    env.Lang = tilu::cli::LanguageFromEnvironment();
    env.Out = &std::cout;
    env.Err = &std::cerr;
    return tilu::cli::RunCli(arguments, env);
}
