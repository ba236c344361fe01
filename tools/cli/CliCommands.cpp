#include "CliEnvironment.h"
#include "HelpText.h"
#include "PortAccess.h"
#include "SettingsListing.h"
#include "SettingsRecordFile.h"

#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <array>
#include <optional>
#include <variant>

#ifndef TILU_VERSION
#define TILU_VERSION "unknown"
#endif

namespace tilu::cli {

namespace {

const QString kProgram = QStringLiteral("tilu-cli");
const QString kDefaultDescription = QStringLiteral("Новая настройка");

struct TArguments {
    QString Command;
    QStringList Operands;
    std::optional<QString> Port;
    std::optional<QString> Save;
    std::optional<QString> Description;
    bool Json = false;
    bool Verify = false;
    bool Help = false;
    bool Version = false;
    QSet<QString> Given; // the options given, by their long name
};

struct TUsageError {
    QString Message;
};

QString Hex2(int byte) {
    return QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
}

// The line-error report carries "\n\r" between its lines; on a terminal that is one line break.
QStringList TerminalLines(const std::string& text) {
    return QString::fromStdString(text).split(QStringLiteral("\n\r"));
}

class Cli {
public:
    explicit Cli(TCliEnvironment& env) : env_(env) {}

    int Run(const QStringList& arguments) {
        const auto parsed = Parse(arguments);
        if (const auto* error = std::get_if<TUsageError>(&parsed)) {
            return UsageFailure(error->Message);
        }
        const TArguments& args = std::get<TArguments>(parsed);
        if (args.Help) {
            *env_.Out << HelpText(env_.Lang).toStdString();
            return ExitOk;
        }
        if (args.Version) {
            Out(kProgram + QStringLiteral(" ") + QStringLiteral(TILU_VERSION));
            return ExitOk;
        }
        if (args.Command == QStringLiteral("ports")) {
            return Ports();
        }
        if (args.Command == QStringLiteral("show")) {
            return Show(args.Operands[0], args.Json);
        }
        if (args.Command == QStringLiteral("diff")) {
            return Diff(args.Operands[0], args.Operands[1]);
        }
        if (args.Command == QStringLiteral("write")) {
            return Write(*args.Port, args.Operands[0], args.Verify);
        }
        if (args.Command == QStringLiteral("read")) {
            return Read(*args.Port, args.Save, args.Description);
        }
        return Levels(*args.Port);
    }

private:
    // --- texts and output ------------------------------------------------------------------

    QString T(const char* english, const char* russian) const {
        return QString::fromUtf8(env_.Lang == Language::Russian ? russian : english);
    }

    char DecimalSeparator() const {
        const QString point = env_.Locale.decimalPoint();
        if (point.size() == 1 && point.at(0).unicode() < 0x80) {
            return static_cast<char>(point.at(0).unicode());
        }
        return '.';
    }

    void Out(const QString& line) { *env_.Out << line.toStdString() << '\n'; }
    void Err(const QString& line) { *env_.Err << line.toStdString() << '\n'; }
    void Cause(const QString& text) { Err(kProgram + QStringLiteral(": ") + text); }

    int UsageFailure(const QString& message) {
        Cause(message);
        Err(T("Try 'tilu-cli --help' for more information.", "Подробнее: tilu-cli --help"));
        return ExitUsage;
    }

    // --- the command line ------------------------------------------------------------------

    std::variant<TArguments, TUsageError> Parse(const QStringList& arguments) const {
        static const QStringList kCommands{QStringLiteral("ports"), QStringLiteral("show"),
                                           QStringLiteral("diff"),  QStringLiteral("write"),
                                           QStringLiteral("read"),  QStringLiteral("levels")};
        TArguments args;
        bool optionsEnded = false;
        for (qsizetype i = 0; i < arguments.size(); ++i) {
            const QString& argument = arguments[i];
            const bool isOption =
                !optionsEnded && argument.startsWith(QLatin1Char('-')) && argument.size() > 1;
            if (!isOption) {
                if (args.Command.isEmpty()) {
                    if (!kCommands.contains(argument)) {
                        return TUsageError{
                            T("'%1': unknown command", "'%1': нет такой команды").arg(argument)};
                    }
                    args.Command = argument;
                } else {
                    args.Operands.append(argument);
                }
                continue;
            }
            if (argument == QStringLiteral("--")) {
                optionsEnded = true;
                continue;
            }
            QString name = argument;
            std::optional<QString> inlineValue;
            if (const qsizetype equals = argument.indexOf(QLatin1Char('='));
                equals > 0 && argument.startsWith(QStringLiteral("--"))) {
                name = argument.left(equals);
                inlineValue = argument.mid(equals + 1);
            }
            if (name == QStringLiteral("-h") || name == QStringLiteral("--help")) {
                args.Help = true;
                continue;
            }
            const bool takesValue = name == QStringLiteral("--port") ||
                                    name == QStringLiteral("--save") ||
                                    name == QStringLiteral("--description");
            const bool isFlag = name == QStringLiteral("--json") ||
                                name == QStringLiteral("--verify") ||
                                name == QStringLiteral("--version");
            if (!takesValue && !isFlag) {
                return TUsageError{
                    T("%1: unknown option", "%1: нет такого параметра").arg(argument)};
            }
            if (isFlag && inlineValue) {
                return TUsageError{T("%1: takes no value", "%1: значение не нужно").arg(name)};
            }
            QString value;
            if (takesValue) {
                if (inlineValue) {
                    value = *inlineValue;
                } else if (i + 1 < arguments.size()) {
                    value = arguments[++i];
                } else {
                    return TUsageError{T("%1: needs a value", "%1: нужно значение").arg(name)};
                }
                if (value.isEmpty() && name != QStringLiteral("--description")) {
                    return TUsageError{T("%1: needs a value", "%1: нужно значение").arg(name)};
                }
            }
            args.Given.insert(name);
            if (name == QStringLiteral("--port")) {
                args.Port = value;
            } else if (name == QStringLiteral("--save")) {
                args.Save = value;
            } else if (name == QStringLiteral("--description")) {
                args.Description = value;
            } else if (name == QStringLiteral("--json")) {
                args.Json = true;
            } else if (name == QStringLiteral("--verify")) {
                args.Verify = true;
            } else {
                args.Version = true;
            }
        }
        if (args.Help || (args.Version && args.Command.isEmpty())) {
            return args;
        }
        if (args.Command.isEmpty()) {
            return TUsageError{T("no command given", "не задана команда")};
        }
        return Validate(std::move(args));
    }

    std::variant<TArguments, TUsageError> Validate(TArguments args) const {
        struct TRule {
            const char* Command;
            QStringList Options;
            int Operands;
            const char* EnglishOperands;
            const char* RussianOperands;
            bool NeedsPort;
        };
        static const std::array<TRule, 6> kRules{{
            {"ports", {}, 0, "no arguments", "аргументы не нужны", false},
            {"show", {QStringLiteral("--json")}, 1, "one FILE", "один ФАЙЛ", false},
            {"diff", {}, 2, "two files A B", "два файла A B", false},
            {"write",
             {QStringLiteral("--port"), QStringLiteral("--verify")},
             1,
             "one FILE",
             "один ФАЙЛ",
             true},
            {"read",
             {QStringLiteral("--port"), QStringLiteral("--save"), QStringLiteral("--description")},
             0,
             "no arguments besides the options",
             "аргументы, кроме параметров, не нужны",
             true},
            {"levels",
             {QStringLiteral("--port")},
             0,
             "no arguments besides --port",
             "аргументы, кроме --port, не нужны",
             true},
        }};
        const auto rule = std::find_if(kRules.begin(), kRules.end(), [&args](const TRule& r) {
            return args.Command == QLatin1String(r.Command);
        });
        for (const QString& option : std::as_const(args.Given)) {
            if (!rule->Options.contains(option)) {
                return TUsageError{T("%1: not an option of '%2'", "%1: не параметр команды '%2'")
                                       .arg(option, args.Command)};
            }
        }
        if (args.Operands.size() != rule->Operands) {
            return TUsageError{
                T("%1: needs %2", "%1: нужно: %2")
                    .arg(args.Command, T(rule->EnglishOperands, rule->RussianOperands))};
        }
        if (rule->NeedsPort && !args.Port) {
            return TUsageError{T("%1: needs --port P", "%1: нужен --port P").arg(args.Command)};
        }
        if (args.Description && !args.Save) {
            return TUsageError{
                T("--description: only with --save", "--description: только с --save")};
        }
        return args;
    }

    // --- files -----------------------------------------------------------------------------

    std::optional<TSettingsFileRecord> ReadFile(const QString& path) {
        const TRecordRead read = ReadRecordFile(path);
        if (read.Failure == FileFailure::None) {
            return read.Record;
        }
        Err(QStringLiteral("Ошибка при открытие файла!"));
        switch (read.Failure) {
        case FileFailure::NoSuchFile:
            Cause(T("%1: no such file", "%1: нет такого файла").arg(path));
            break;
        case FileFailure::PermissionDenied:
            Cause(T("%1: permission denied", "%1: нет доступа").arg(path));
            break;
        case FileFailure::IsADirectory:
            Cause(T("%1: is a directory", "%1: это папка").arg(path));
            break;
        case FileFailure::TooShort:
            Cause(T("%1: too short (%2 bytes; a settings file has 328)",
                    "%1: слишком короткий (%2 байт; в файле настроек 328)")
                      .arg(path)
                      .arg(read.BytesRead));
            break;
        default:
            Cause(T("%1: cannot read: %2", "%1: не читается: %2").arg(path, read.Detail));
            break;
        }
        return std::nullopt;
    }

    QString Description(const TSettingsFileRecord& record) const {
        return QString::fromStdString(Cp1251ToUtf8(record.DescriptionBytes()));
    }

    int Ports() {
        const QStringList names = env_.PortNames();
        for (const QString& name : names) {
            Out(name);
        }
        return ExitOk;
    }

    int Show(const QString& path, bool json) {
        const std::optional<TSettingsFileRecord> record = ReadFile(path);
        if (!record) {
            return ExitFileUnreadable;
        }
        if (json) {
            Out(SettingsFileJson(*record));
            return ExitOk;
        }
        Out(T("File: ", "Файл: ") + path);
        Out(T("Saved at: ", "Сохранено: ") + TimestampText(record->SavedAt(), env_.Locale));
        Out(T("Description: ", "Описание: ") + Description(*record));
        for (const QString& line :
             SettingsTable(HeldSettingsOfRecord(*record), DecimalSeparator())) {
            Out(line);
        }
        return ExitOk;
    }

    int Diff(const QString& pathA, const QString& pathB) {
        const std::optional<TSettingsFileRecord> a = ReadFile(pathA);
        if (!a) {
            return ExitFileUnreadable;
        }
        const std::optional<TSettingsFileRecord> b = ReadFile(pathB);
        if (!b) {
            return ExitFileUnreadable;
        }
        const QStringList lines =
            DifferenceLines(HeldSettingsOfRecord(*a), HeldSettingsOfRecord(*b), DecimalSeparator());
        for (const QString& line : lines) {
            Out(line);
        }
        return lines.isEmpty() ? ExitOk : ExitDifferent;
    }

    // --- the emulator ----------------------------------------------------------------------

    std::optional<TPortOpening> OpenPort(const QString& name) {
        TPortOpening opening = env_.OpenPort(name);
        if (opening.Port) {
            return opening;
        }
        Err(QStringLiteral("COM-порт не выбран!"));
        switch (opening.Failure) {
        case PortFailure::NoSuchPort:
            Cause(T("%1: no such port", "%1: нет такого порта").arg(name));
            break;
        case PortFailure::PermissionDenied:
            Cause(T("%1: permission denied; the user must be in the group that owns the port, "
                    "usually dialout (sudo usermod -aG dialout $USER, then log in again)",
                    "%1: нет доступа; пользователь должен входить в группу, которой принадлежит "
                    "порт, обычно dialout (sudo usermod -aG dialout $USER и войти заново)")
                      .arg(name));
            break;
        case PortFailure::Busy:
            Cause(T("%1: the port is busy (another program holds it)",
                    "%1: порт занят (его держит другая программа)")
                      .arg(name));
            break;
        case PortFailure::NotASerialPort:
            Cause(T("%1: not a serial port", "%1: это не последовательный порт").arg(name));
            break;
        default:
            Cause(T("%1: cannot open the port: %2", "%1: порт не открывается: %2")
                      .arg(name, opening.Detail));
            break;
        }
        return std::nullopt;
    }

    // Sends the frame built for `command` and judges the reply as the configurator does. The
    // reply's own texts go to standard output on success, else to standard error with a line
    // naming the cause.
    int Transact(ISerialPort& port, std::uint8_t command, TEmulatorSettings& settings) {
        BuildCommandFrame(link_, settings, command);
        const TExchange exchange = ExchangeFrame(port, link_);
        switch (exchange.What) {
        case TExchange::Result::NoAnswer:
            Err(QStringLiteral("*** Эмулятор не отвечает !!"));
            Err(QStringLiteral("*** Проверьте связь с эмулятором !!"));
            Cause(
                T("no answer from the emulator within 1500 ms", "эмулятор не ответил за 1500 мс"));
            return ExitNoAnswer;
        case TExchange::Result::LineError:
            for (const QString& line : TerminalLines(LineErrorText(exchange.Errors))) {
                Err(line);
            }
            Cause(T("line error on the port; the reply was not taken",
                    "ошибка линии порта; ответ не принят"));
            return ExitLineFailure;
        case TExchange::Result::PortFailure:
            Cause(T("the port failed: %1", "сбой порта: %1").arg(exchange.Detail));
            return ExitLineFailure;
        case TExchange::Result::DeviceLost:
            Cause(T("the port was lost: %1", "порт пропал: %1").arg(exchange.Detail));
            return ExitLineFailure;
        case TExchange::Result::Reply:
            break;
        }

        const auto& rx = link_.RxBuffer;
        const bool signature = rx[0] == FrameSignature0 && rx[1] == FrameSignature1;
        const std::uint8_t replyCommand = rx[2];
        const bool known = replyCommand == CmdWriteSettings || replyCommand == CmdReadSettings ||
                           replyCommand == CmdReadLevels;
        if (!signature || !known) {
            const TReplyOutcome outcome = JudgeReception(link_, settings);
            for (const std::string& line : outcome.LogLines) {
                Err(QString::fromStdString(line));
            }
            Cause(signature ? T("the reply carries the unknown command byte %1",
                                "в ответе неизвестный байт команды %1")
                                  .arg(Hex2(replyCommand))
                            : T("the reply has no frame signature CA D3",
                                "в ответе нет сигнатуры кадра CA D3"));
            return ExitUnrecognisedReply;
        }
        if (replyCommand != command) {
            Err(QStringLiteral("***  Неправильный ответ из эмулятора  ***"));
            Err(QString::fromStdString(DumpLine(link_)));
            Cause(T("the reply answers command %1, not %2", "ответ на команду %1, а не %2")
                      .arg(Hex2(replyCommand), Hex2(command)));
            return ExitUnrecognisedReply;
        }

        const TReplyOutcome outcome = JudgeReception(link_, settings);
        const auto logTo = [this, &outcome](bool toOut) {
            for (const std::string& line : outcome.LogLines) {
                toOut ? Out(QString::fromStdString(line)) : Err(QString::fromStdString(line));
            }
        };
        if (rx[3] != ReplyOk) {
            logTo(false);
            Cause(command == CmdWriteSettings
                      ? T("the emulator did not confirm the write (status %1, not 81)",
                          "эмулятор не подтвердил запись (статус %1, а не 81)")
                            .arg(Hex2(rx[3]))
                      : T("the reply's status is %1, not 81", "статус ответа %1, а не 81")
                            .arg(Hex2(rx[3])));
            return ExitBadStatus;
        }
        const std::int32_t expected = command == CmdReadSettings ? SettingsReplyLength
                                      : command == CmdReadLevels ? LevelsReplyLength
                                                                 : link_.RxCount;
        if (link_.RxCount != expected) {
            logTo(false);
            Cause(T("the reply has %1 bytes, not %2", "в ответе %1 байт, а не %2")
                      .arg(link_.RxCount)
                      .arg(expected));
            return ExitWrongLength;
        }
        logTo(true);
        return ExitOk;
    }

    TEmulatorSettings FactorySettings() const {
        TEmulatorSettings settings;
        settings.OsgSettings = FactoryDefaults(TEmulatorMode::OSG);
        settings.LafSettings = FactoryDefaults(TEmulatorMode::LAF);
        return settings;
    }

    int Write(const QString& portName, const QString& path, bool verify) {
        const std::optional<TSettingsFileRecord> record = ReadFile(path);
        if (!record) {
            return ExitFileUnreadable;
        }
        TEmulatorSettings settings = FactorySettings();
        LoadSettingsFromRecord(*record, settings);
        std::optional<TPortOpening> opening = OpenPort(portName);
        if (!opening) {
            return ExitPortUnavailable;
        }
        if (const int code = Transact(*opening->Port, CmdWriteSettings, settings); code != ExitOk) {
            return code;
        }
        if (!verify) {
            return ExitOk;
        }

        const THeldSettings written = HeldSettingsOfWriteFrame(link_);
        TEmulatorSettings readBack = FactorySettings();
        if (const int code = Transact(*opening->Port, CmdReadSettings, readBack); code != ExitOk) {
            return code;
        }
        const QStringList differences =
            DifferenceLines(written, HeldSettingsOfReply(link_), DecimalSeparator());
        if (!differences.isEmpty()) {
            Cause(T("the emulator holds other settings than were written (written -> read back):",
                    "в эмуляторе другие настройки, чем записано (записано -> считано):"));
            for (const QString& line : differences) {
                Err(line);
            }
            return ExitDifferent;
        }
        Out(T("Verified: the emulator holds the settings written.",
              "Проверено: в эмуляторе записанные настройки."));
        return ExitOk;
    }

    int Read(const QString& portName, const std::optional<QString>& savePath,
             const std::optional<QString>& description) {
        std::optional<TPortOpening> opening = OpenPort(portName);
        if (!opening) {
            return ExitPortUnavailable;
        }
        TEmulatorSettings settings = FactorySettings();
        if (const int code = Transact(*opening->Port, CmdReadSettings, settings); code != ExitOk) {
            return code;
        }
        for (const QString& line : SettingsTable(HeldSettingsOfReply(link_), DecimalSeparator())) {
            Out(line);
        }
        if (!savePath) {
            return ExitOk;
        }

        // A fresh record image, as at the configurator's start: the bytes a save doesn't fill
        // are zeros.
        TSettingsFileRecord record;
        StoreSettingsToRecord(record, settings, ToOleDate(env_.Now()));
        StoreDescription(record, description.value_or(kDefaultDescription).toStdString());
        if (const std::optional<QString> failure = WriteRecordFile(*savePath, record)) {
            Err(QStringLiteral("Ошибка при записи файла!"));
            Cause(T("%1: cannot write: %2", "%1: не записывается: %2").arg(*savePath, *failure));
            return ExitFileUnwritable;
        }
        const QString fileName = QFileInfo(*savePath).fileName();
        Out(QStringLiteral("Записан файл -> ") + fileName + QStringLiteral("-> ") +
            TimestampText(record.SavedAt(), env_.Locale));
        Out(QStringLiteral(" -> ") + Description(record));
        Out(QStringLiteral(" -> ") + (settings.Mode == TEmulatorMode::OSG
                                          ? QStringLiteral(" режим OSG")
                                          : QStringLiteral(" режим LAF")));
        Out(QStringLiteral("Файл настроек  ") + fileName + QStringLiteral("  записан успешно!"));
        return ExitOk;
    }

    int Levels(const QString& portName) {
        std::optional<TPortOpening> opening = OpenPort(portName);
        if (!opening) {
            return ExitPortUnavailable;
        }
        TEmulatorSettings settings = FactorySettings();
        return Transact(*opening->Port, CmdReadLevels, settings);
    }

    TCliEnvironment& env_;
    TLinkBuffers link_; // one for the run, as in the configurator: never cleared
};

} // namespace

Language LanguageFromEnvironment() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const QString value = qEnvironmentVariable(name);
        if (!value.isEmpty()) {
            return value.startsWith(QStringLiteral("ru")) ? Language::Russian : Language::English;
        }
    }
    return Language::English;
}

int RunCli(const QStringList& arguments, TCliEnvironment& env) {
    Cli cli(env);
    const int code = cli.Run(arguments);
    env.Out->flush();
    env.Err->flush();
    return code;
}

} // namespace tilu::cli
