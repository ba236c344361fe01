#pragma once

#include "SerialPort.h"
#include "files/SettingsRecord.h"

#include <QLocale>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <ostream>

namespace tilu::cli {

// Exit codes a script can rely on; --help and the README list them.
enum ExitCode : int {
    ExitOk = 0,
    ExitDifferent = 1, // diff: the files differ; write --verify: the device holds other settings
    ExitUsage = 2,
    ExitFileUnreadable = 3,
    ExitPortUnavailable = 4, // no such port, busy, permission denied
    ExitNoAnswer = 5,
    ExitBadStatus = 6, // the write not confirmed included
    ExitWrongLength = 7,
    ExitFileUnwritable = 8,
    ExitUnrecognisedReply = 9, // no frame signature, or the answer to another command
    ExitLineFailure = 10,      // purge or write failed, line error, device lost
};

// The language of the tool's own texts. The configurator's texts stay Russian in both.
enum class Language { English, Russian };

// Russian when the first of LC_ALL, LC_MESSAGES and LANG that is set starts with "ru".
Language LanguageFromEnvironment();

enum class PortFailure { NoSuchPort, PermissionDenied, Busy, NotASerialPort, Other };

// Held for as long as the port is open; released after the port has been closed.
class PortHold {
public:
    virtual ~PortHold() = default;
};

struct TPortOpening {
    std::unique_ptr<PortHold> Hold;    // declared first: outlives Port
    std::unique_ptr<ISerialPort> Port; // open; empty when opening failed
    PortFailure Failure = PortFailure::Other;
    QString Detail; // the system's own text for the failure
};

// What a command reaches outside itself; main() gives the real ones, tests their own.
struct TCliEnvironment {
    std::function<QStringList()> PortNames;
    std::function<TPortOpening(const QString& name)> OpenPort;
    std::function<TCivilDateTime()> Now;
    QLocale Locale = QLocale::c(); // decimal separator and date and time formats shown
    Language Lang = Language::English;
    std::ostream* Out = nullptr;
    std::ostream* Err = nullptr;
};

// Runs one command line (the arguments after the program name) and returns its exit code.
int RunCli(const QStringList& arguments, TCliEnvironment& env);

} // namespace tilu::cli
