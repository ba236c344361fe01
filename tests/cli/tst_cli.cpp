// tilu-cli's commands run in-process: the command line, the texts, the exit codes, the files it
// reads and writes, and the exchange with a scripted port on the configurator's timing.

#include "CliEnvironment.h"
#include "ScriptedPort.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sstream>

using namespace tilu;
using namespace tilu::cli;
using namespace tilu::testing;

Q_DECLARE_METATYPE(tilu::cli::Language)
Q_DECLARE_METATYPE(tilu::testing::TLineStep)

namespace {

const QString kPort = QStringLiteral("ttyTEST");

struct TRun {
    int Code = -1;
    QStringList Out;
    QStringList Err;
};

QString DataFile(const QString& name) {
    return qEnvironmentVariable("TILU_TEST_DATA") + QLatin1Char('/') + name;
}

QByteArray Hex(const char* hex) {
    return QByteArray::fromHex(hex);
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool WriteAll(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QStringList Lines(const std::string& text) {
    QStringList lines = QString::fromStdString(text).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.back().isEmpty()) {
        lines.removeLast();
    }
    return lines;
}

// One row of a settings table: caption in 36 columns, the held value right-aligned in 11.
QString Row(const QString& caption, const QString& held, const QString& text) {
    return caption.leftJustified(36) + held.rightJustified(11) + QStringLiteral("  ") + text;
}

// The OSG factory settings as the emulator sends them, and as they are shown with '.'.
const QByteArray kFactoryOsgReply = Hex("CA D3 BA 81 88 88 06 32 1E 09 01 37 14 05 00 00 00 00");
const QStringList kFactoryOsgTable{
    Row("Режим", "136", "OSG"),
    Row("Задержка сигнала", "136", "есть задержка"),
    Row("Скорость нарастания сигнала", "6", "0,1 V / 0.6 Sec"),
    Row("Смещение выходных напряжений", "50", "0 V"),
    Row("Время возникновение отклика", "30", "3 Sec"),
    Row("Верхняя граница", "9", "0.9 V"),
    Row("Нижняя граница", "1", "0.1 V"),
    Row("Множественный отклик сигнала", "55", "выключен"),
    Row("Длительность положительного отклика", "20", "2 Sec"),
    Row("Длительность отрицательного отклика", "5", "0.5 Sec"),
};

} // namespace

class TestCli : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();

    void helpInBothLanguages_data();
    void helpInBothLanguages();
    void wrongCommandLines_data();
    void wrongCommandLines();

    void showsAFile_data();
    void showsAFile();
    void showsJson();
    void jsonOfAFileWithoutDateAndWithOddDescription();
    void diffComparesWhatTheEmulatorReceives_data();
    void diffComparesWhatTheEmulatorReceives();
    void unreadableFiles_data();
    void unreadableFiles();

    void portsAsListed();
    void portThatCannotBeOpened_data();
    void portThatCannotBeOpened();

    void writeSendsTheFilesFrame_data();
    void writeSendsTheFilesFrame();
    void repliesAndTheirExitCodes_data();
    void repliesAndTheirExitCodes();
    void portFailsDuringTheExchange_data();
    void portFailsDuringTheExchange();
    void noAnswerWithinTheWatchdog();
    void replyPiecesWithinTheSettleDelayAreOneReply();
    void verifyReadsBack_data();
    void verifyReadsBack();
    void readShowsTheSettings();
    void levelsPrintsTwelveLines();

    void readSaveWritesTheConfiguratorsRecord();
    void readSaveKeepsTheFirst250Characters();
    void readSaveToAnUnwritablePath();

private:
    TRun run(const QStringList& arguments, Language language = Language::English,
             const QLocale& locale = QLocale::c());

    std::shared_ptr<TLineScript> script_;
    int opens_ = 0;
    std::unique_ptr<QTemporaryDir> tempDir_;
    QString tempPath(const QString& name) const { return tempDir_->filePath(name); }
};

void TestCli::init() {
    script_ = std::make_shared<TLineScript>();
    opens_ = 0;
    tempDir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(tempDir_->isValid());
}

TRun TestCli::run(const QStringList& arguments, Language language, const QLocale& locale) {
    std::ostringstream out;
    std::ostringstream err;
    TCliEnvironment env;
    env.PortNames = [] {
        return QStringList{QStringLiteral("ttyS0"), QStringLiteral("ttyS1"),
                           QStringLiteral("ttyUSB0")};
    };
    env.OpenPort = [this](const QString& name) {
        ++opens_;
        TPortOpening opening;
        if (name == kPort) {
            opening.Port = std::make_unique<ScriptedPort>(script_);
            opening.Port->open(name);
        } else if (name == QStringLiteral("ttyBUSY")) {
            opening.Failure = PortFailure::Busy;
        } else if (name == QStringLiteral("ttyDENIED")) {
            opening.Failure = PortFailure::PermissionDenied;
        } else if (name == QStringLiteral("/dev/null")) {
            opening.Failure = PortFailure::NotASerialPort;
        } else if (name == QStringLiteral("ttyODD")) {
            opening.Failure = PortFailure::Other;
            opening.Detail = QStringLiteral("Input/output error");
        } else {
            opening.Failure = PortFailure::NoSuchPort;
        }
        return opening;
    };
    env.Now = [] { return TCivilDateTime{2000, 1, 1, 12, 0, 0, 0}; };
    env.Locale = locale;
    env.Lang = language;
    env.Out = &out;
    env.Err = &err;
    TRun result;
    result.Code = RunCli(arguments, env);
    result.Out = Lines(out.str());
    result.Err = Lines(err.str());
    return result;
}

// --- the command line ------------------------------------------------------------------------

void TestCli::helpInBothLanguages_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<Language>("language");
    QTest::addColumn<QStringList>("expectedLines");

    const QStringList english{
        "Usage: tilu-cli COMMAND [ARGUMENT]...",
        "  ports                      list the system's serial ports, in the port window's order",
        "  show FILE [--json]         show a settings file: mode, the nine settings (held value "
        "and",
        "  diff A B                   list the mode and the settings that differ between two files",
        "  write --port P FILE [--verify]",
        "  read --port P [--save FILE [--description TEXT]]",
        "  levels --port P            read the signal levels of channels A and B",
        "   0  success; diff: the files are equal",
        "   1  diff: the files differ; write --verify: the emulator holds other settings",
        "   2  wrong command line",
        "   3  a settings file cannot be read (missing, no permission, shorter than 328 bytes)",
        "   4  the port cannot be opened (no such port, busy, permission denied)",
        "   5  the emulator does not answer within 1500 ms",
        "   6  the reply's status is not 81 (for write: the write was not confirmed)",
        "   7  the reply has the wrong length",
        "   8  the settings file cannot be written",
        "   9  the reply is not recognised (no frame signature, or the answer to another command)",
        "  10  the port failed during the exchange (line error, device lost, write failed)",
    };
    const QStringList russian{
        "Использование: tilu-cli КОМАНДА [АРГУМЕНТ]...",
        "  show ФАЙЛ [--json]         показать файл настроек: режим, девять настроек (хранимое",
        "  levels --port P            считать уровни сигналов каналов А и В",
        "   0  успешно; diff: файлы одинаковы",
        "   1  diff: файлы различаются; write --verify: в эмуляторе другие настройки",
        "   2  неверная командная строка",
        "   3  файл настроек не читается (нет файла, нет доступа, короче 328 байт)",
        "   4  порт не открывается (нет такого порта, порт занят, нет доступа)",
        "   5  эмулятор не ответил за 1500 мс",
        "   6  статус ответа не 81 (для write: запись не подтверждена)",
        "   7  неверная длина ответа",
        "   8  файл настроек не записывается",
        "   9  ответ не распознан (нет сигнатуры кадра или это ответ на другую команду)",
        "  10  сбой порта во время обмена (ошибка линии, устройство пропало, запись не удалась)",
    };
    QTest::newRow("--help, English") << QStringList{"--help"} << Language::English << english;
    QTest::newRow("-h, Russian") << QStringList{"-h"} << Language::Russian << russian;
    QTest::newRow("after a command")
        << QStringList{"write", "--help"} << Language::English << english;
}

void TestCli::helpInBothLanguages() {
    QFETCH(QStringList, arguments);
    QFETCH(Language, language);
    QFETCH(QStringList, expectedLines);
    const TRun result = run(arguments, language);
    QCOMPARE(result.Code, 0);
    QCOMPARE(result.Err, QStringList());
    QCOMPARE(result.Out.first(), expectedLines.first());
    for (const QString& line : std::as_const(expectedLines)) {
        QVERIFY2(result.Out.contains(line), qPrintable(line));
    }
    QCOMPARE(opens_, 0);
}

void TestCli::wrongCommandLines_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<Language>("language");
    QTest::addColumn<QString>("message");

    const auto en = Language::English;
    QTest::newRow("nothing") << QStringList{} << en << "tilu-cli: no command given";
    QTest::newRow("unknown command")
        << QStringList{"erase"} << en << "tilu-cli: 'erase': unknown command";
    QTest::newRow("unknown option")
        << QStringList{"show", "--yaml", "a.tilu"} << en << "tilu-cli: --yaml: unknown option";
    QTest::newRow("option of another command") << QStringList{"diff", "--json", "a", "b"} << en
                                               << "tilu-cli: --json: not an option of 'diff'";
    QTest::newRow("show without a file")
        << QStringList{"show"} << en << "tilu-cli: show: needs one FILE";
    QTest::newRow("diff with one file")
        << QStringList{"diff", "a"} << en << "tilu-cli: diff: needs two files A B";
    QTest::newRow("ports with an argument")
        << QStringList{"ports", "x"} << en << "tilu-cli: ports: needs no arguments";
    QTest::newRow("write without a port")
        << QStringList{"write", "a.tilu"} << en << "tilu-cli: write: needs --port P";
    QTest::newRow("port without a value")
        << QStringList{"levels", "--port"} << en << "tilu-cli: --port: needs a value";
    QTest::newRow("empty port") << QStringList{"levels", "--port="} << en
                                << "tilu-cli: --port: needs a value";
    QTest::newRow("flag with a value")
        << QStringList{"write", "--verify=yes"} << en << "tilu-cli: --verify: takes no value";
    QTest::newRow("description without save")
        << QStringList{"read", "--port", "ttyTEST", "--description", "x"} << en
        << "tilu-cli: --description: only with --save";
    QTest::newRow("Russian") << QStringList{"levels"} << Language::Russian
                             << "tilu-cli: levels: нужен --port P";
}

void TestCli::wrongCommandLines() {
    QFETCH(QStringList, arguments);
    QFETCH(Language, language);
    QFETCH(QString, message);
    const TRun result = run(arguments, language);
    QCOMPARE(result.Code, 2);
    QCOMPARE(result.Out, QStringList());
    QCOMPARE(result.Err.value(0), message);
    QCOMPARE(result.Err.value(1),
             language == Language::Russian
                 ? QStringLiteral("Подробнее: tilu-cli --help")
                 : QStringLiteral("Try 'tilu-cli --help' for more information."));
    QCOMPARE(opens_, 0);
}

// --- files -----------------------------------------------------------------------------------

void TestCli::showsAFile_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<Language>("language");
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QStringList>("expected");

    const QString osg = DataFile("osg_delay_on.tilu");
    QTest::newRow("OSG, English, C locale")
        << osg << Language::English << QLocale::c()
        << QStringList{"File: " + osg,
                       "Saved at: 1 Jan 2000 12:00:00",
                       "Description: Заводская OSG",
                       Row("Режим", "136", "OSG"),
                       Row("Задержка сигнала", "136", "есть задержка"),
                       Row("Скорость нарастания сигнала", "6", "0,1 V / 0.6 Sec"),
                       Row("Смещение выходных напряжений", "50", "0 V"),
                       Row("Время возникновение отклика", "30", "3 Sec"),
                       Row("Верхняя граница", "9", "0.9 V"),
                       Row("Нижняя граница", "1", "0.1 V"),
                       Row("Множественный отклик сигнала", "55", "выключен"),
                       Row("Длительность положительного отклика", "20", "2 Sec"),
                       Row("Длительность отрицательного отклика", "5", "0.5 Sec")};

    const QString laf = DataFile("laf_delay_off.tilu");
    QTest::newRow("LAF at midnight, Russian")
        << laf << Language::Russian << QLocale(QLocale::Russian, QLocale::Russia)
        << QStringList{"Файл: " + laf,
                       "Сохранено: 15.03.2024",
                       "Описание: Стенд №2, ёлка",
                       Row("Режим", "55", "LAF"),
                       Row("Задержка сигнала", "55", "нет задержки"),
                       Row("Скорость нарастания сигнала", "12", "0,1 V / 1,2 Sec"),
                       Row("Смещение выходных напряжений", "75", "0,25 V"),
                       Row("Время возникновение отклика", "45", "4,5 Sec"),
                       Row("Верхняя граница", "85", "-0,15 V"),
                       Row("Нижняя граница", "35", "0,35 V"),
                       Row("Множественный отклик сигнала", "136", "включён"),
                       Row("Длительность положительного отклика", "25", "2,5 Sec"),
                       Row("Длительность отрицательного отклика", "7", "0,7 Sec")};

    const QString outside = DataFile("outside_domains.tilu");
    QTest::newRow("values outside the domains")
        << outside << Language::Russian << QLocale(QLocale::Russian, QLocale::Russia)
        << QStringList{"Файл: " + outside,
                       "Сохранено: 01.06.2010 10:20:30",
                       "Описание: вне диапазона",
                       Row("Режим", "55", "LAF"),
                       Row("Задержка сигнала", "0", "нет задержки"),
                       Row("Скорость нарастания сигнала", "300", "0,1 V / 5 Sec"),
                       Row("Смещение выходных напряжений", "0", "-0,25 V"),
                       Row("Время возникновение отклика", "65566", "3 Sec"),
                       Row("Верхняя граница", "-90", "-0,9 V"),
                       Row("Нижняя граница", "-5", "42949672,91 V"),
                       Row("Множественный отклик сигнала", "136", "включён"),
                       Row("Длительность положительного отклика", "2147483647", "0,5 Sec"),
                       Row("Длительность отрицательного отклика", "-1", "0,1 Sec")};

    const QString longOne = DataFile("length_255.tilu");
    QTest::newRow("length byte 255, mode 0")
        << longOne << Language::English << QLocale::c()
        << QStringList{"File: " + longOne,
                       "Saved at: 31 Dec 1999 08:05:09",
                       "Description: " + QString("0123456789").repeated(25) + "ЁЛКИ!",
                       Row("Режим", "0", "LAF"),
                       Row("Задержка сигнала", "136", "есть задержка"),
                       Row("Скорость нарастания сигнала", "2", "0,1 V / 0.2 Sec"),
                       Row("Смещение выходных напряжений", "100", "0.5 V"),
                       Row("Время возникновение отклика", "5", "0.5 Sec"),
                       Row("Верхняя граница", "10", "-0.9 V"),
                       Row("Нижняя граница", "40", "0.4 V"),
                       Row("Множественный отклик сигнала", "392", "выключен"),
                       Row("Длительность положительного отклика", "5", "0.5 Sec"),
                       Row("Длительность отрицательного отклика", "1", "0.1 Sec")};
}

void TestCli::showsAFile() {
    QFETCH(QString, file);
    QFETCH(Language, language);
    QFETCH(QLocale, locale);
    QFETCH(QStringList, expected);
    const TRun result = run({"show", file}, language, locale);
    QCOMPARE(result.Code, 0);
    QCOMPARE(result.Err, QStringList());
    QCOMPARE(result.Out, expected);
}

void TestCli::showsJson() {
    // The regional settings don't reach the machine-readable form.
    const TRun result = run({"show", "--json", DataFile("laf_delay_off.tilu")}, Language::Russian,
                            QLocale(QLocale::Russian, QLocale::Russia));
    QCOMPARE(result.Code, 0);
    QCOMPARE(result.Err, QStringList());
    const QString expected = QStringLiteral(R"({
  "mode": {"held": 55, "text": "LAF"},
  "settings": {
    "SignalDelay": {"held": 55, "on": false, "text": "нет задержки"},
    "RiseRate": {"held": 12, "position": 12, "text": "0,1 V / 1.2 Sec"},
    "OutputOffset": {"held": 75, "position": 25, "text": "0.25 V"},
    "ResponseOnset": {"held": 45, "position": 45, "text": "4.5 Sec"},
    "UpperBound": {"held": 85, "position": -15, "text": "-0.15 V"},
    "LowerBound": {"held": 35, "position": 35, "text": "0.35 V"},
    "MultipleResponse": {"held": 136, "on": true, "text": "включён"},
    "PositiveDuration": {"held": 25, "position": 25, "text": "2.5 Sec"},
    "NegativeDuration": {"held": 7, "position": 7, "text": "0.7 Sec"}
  },
  "savedAt": "2024-03-15T00:00:00.000",
  "description": "Стенд №2, ёлка"
})");
    QCOMPARE(result.Out.join(QLatin1Char('\n')), expected);
}

void TestCli::jsonOfAFileWithoutDateAndWithOddDescription() {
    QByteArray record = ReadAll(DataFile("unshowable_date.tilu"));
    QCOMPARE(record.size(), 328);
    // Description: a"b\c, a tab and a line feed.
    const QByteArray description("a\"b\\c\t\n");
    record[72] = static_cast<char>(description.size());
    record.replace(73, description.size(), description);
    const QString path = tempPath("odd.tilu");
    QVERIFY(WriteAll(path, record));

    const TRun result = run({"show", path, "--json"});
    QCOMPARE(result.Code, 0);
    QCOMPARE(result.Out.value(1), R"(  "mode": {"held": 136, "text": "OSG"},)");
    QCOMPARE(result.Out.value(3),
             R"(    "SignalDelay": {"held": 136, "on": true, "text": "есть задержка"},)");
    QCOMPARE(result.Out.value(13), R"(  "savedAt": null,)");
    QCOMPARE(result.Out.value(14), R"(  "description": "a\"b\\c\t\n")");
}

void TestCli::diffComparesWhatTheEmulatorReceives_data() {
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("code");
    QTest::addColumn<QStringList>("lines");

    const QString osg = DataFile("osg_delay_on.tilu");
    QTest::newRow("same file") << osg << osg << 0 << QStringList{};
    QTest::newRow("OSG against LAF")
        << osg << DataFile("laf_delay_off.tilu") << 1
        << QStringList{
               "Режим (Mode): 136 (OSG) -> 55 (LAF)",
               "Задержка сигнала (SignalDelay): 136 (есть задержка) -> 55 (нет задержки)",
               "Скорость нарастания сигнала (RiseRate): 6 (0,1 V / 0.6 Sec) -> 12 (0,1 V / 1.2 "
               "Sec)",
               "Смещение выходных напряжений (OutputOffset): 50 (0 V) -> 75 (0.25 V)",
               "Время возникновение отклика (ResponseOnset): 30 (3 Sec) -> 45 (4.5 Sec)",
               "Верхняя граница (UpperBound): 9 (0.9 V) -> 85 (-0.15 V)",
               "Нижняя граница (LowerBound): 1 (0.1 V) -> 35 (0.35 V)",
               "Множественный отклик сигнала (MultipleResponse): 55 (выключен) -> 136 (включён)",
               "Длительность положительного отклика (PositiveDuration): 20 (2 Sec) -> 25 (2.5 Sec)",
               "Длительность отрицательного отклика (NegativeDuration): 5 (0.5 Sec) -> 7 (0.7 "
               "Sec)"};
    // osg_delay_on with only the description, the date and the reserved bytes changed.
    QTest::newRow("only description and date differ")
        << osg << QStringLiteral("osg-other-description") << 0 << QStringList{};
    // length_255 holds Mode 0 and MultipleResponse 0x188: the same as 55 and 55.
    QTest::newRow("flags compared by meaning")
        << DataFile("length_255.tilu") << QStringLiteral("length255-plain-flags") << 0
        << QStringList{};
    QTest::newRow("one value") << osg << QStringLiteral("osg-lower-bound-4") << 1
                               << QStringList{
                                      "Нижняя граница (LowerBound): 1 (0.1 V) -> 4 (0.4 V)"};
}

void TestCli::diffComparesWhatTheEmulatorReceives() {
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(int, code);
    QFETCH(QStringList, lines);

    if (b == QStringLiteral("osg-other-description")) {
        QByteArray record = ReadAll(a);
        record.replace(40, 24, QByteArray(24, '\x55'));
        record.replace(64, 8, Hex("00 00 00 00 00 00 F0 3F"));
        record.replace(72, 4, Hex("03 78 79 7A"));
        b = tempPath("other.tilu");
        QVERIFY(WriteAll(b, record));
    } else if (b == QStringLiteral("length255-plain-flags")) {
        QByteArray record = ReadAll(a);
        record.replace(0, 4, Hex("37 00 00 00"));
        record.replace(28, 4, Hex("37 00 00 00"));
        b = tempPath("plain.tilu");
        QVERIFY(WriteAll(b, record));
    } else if (b == QStringLiteral("osg-lower-bound-4")) {
        QByteArray record = ReadAll(a);
        record.replace(24, 4, Hex("04 00 00 00"));
        b = tempPath("lower.tilu");
        QVERIFY(WriteAll(b, record));
    }
    const TRun result = run({"diff", a, b});
    QCOMPARE(result.Code, code);
    QCOMPARE(result.Out, lines);
    QCOMPARE(result.Err, QStringList());
}

void TestCli::unreadableFiles_data() {
    QTest::addColumn<QStringList>("arguments"); // FILE stands for the file of the row
    QTest::addColumn<QByteArray>("contents");   // "missing", "folder" or the bytes of the file
    QTest::addColumn<Language>("language");
    QTest::addColumn<QString>("cause");

    const auto en = Language::English;
    QTest::newRow("show, missing") << QStringList{"show", "FILE"} << QByteArray("missing") << en
                                   << "tilu-cli: FILE: no such file";
    QTest::newRow("show --json, empty")
        << QStringList{"show", "--json", "FILE"} << QByteArray() << en
        << "tilu-cli: FILE: too short (0 bytes; a settings file "
           "has 328)";
    QTest::newRow("diff, second is 327 bytes")
        << QStringList{"diff", DataFile("osg_delay_on.tilu"), "FILE"} << QByteArray(327, '\0')
        << Language::Russian << "tilu-cli: FILE: слишком короткий (327 байт; в файле настроек 328)";
    QTest::newRow("diff, first is a folder")
        << QStringList{"diff", "FILE", DataFile("osg_delay_on.tilu")} << QByteArray("folder") << en
        << "tilu-cli: FILE: is a directory";
    QTest::newRow("write, missing: the port is not opened")
        << QStringList{"write", "--port", kPort, "FILE"} << QByteArray("missing") << en
        << "tilu-cli: FILE: no such file";
}

void TestCli::unreadableFiles() {
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, contents);
    QFETCH(Language, language);
    QFETCH(QString, cause);

    const QString path = tempPath(QStringLiteral("row.tilu"));
    QFile::remove(path);
    QDir(path).removeRecursively();
    if (contents == "folder") {
        QVERIFY(QDir().mkpath(path));
    } else if (contents != "missing") {
        QVERIFY(WriteAll(path, contents));
    }
    arguments.replaceInStrings(QStringLiteral("FILE"), path);
    const TRun result = run(arguments, language);
    QCOMPARE(result.Code, 3);
    QCOMPARE(result.Out, QStringList());
    QCOMPARE(result.Err,
             QStringList({"Ошибка при открытие файла!", QString(cause).replace("FILE", path)}));
    QCOMPARE(opens_, 0);
}

// --- the port --------------------------------------------------------------------------------

void TestCli::portsAsListed() {
    const TRun result = run({"ports"});
    QCOMPARE(result.Code, 0);
    QCOMPARE(result.Out, QStringList({"ttyS0", "ttyS1", "ttyUSB0"}));
    QCOMPARE(result.Err, QStringList());
}

void TestCli::portThatCannotBeOpened_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<Language>("language");
    QTest::addColumn<QString>("cause");

    const auto en = Language::English;
    QTest::newRow("no such port") << QStringList{"levels", "--port", "ttyMISSING"} << en
                                  << "tilu-cli: ttyMISSING: no such port";
    QTest::newRow("busy") << QStringList{"read", "--port", "ttyBUSY"} << en
                          << "tilu-cli: ttyBUSY: the port is busy (another program holds it)";
    QTest::newRow("busy, Russian") << QStringList{"read", "--port", "ttyBUSY"} << Language::Russian
                                   << "tilu-cli: ttyBUSY: порт занят (его держит другая программа)";
    QTest::newRow("permission denied")
        << QStringList{"write", "--port", "ttyDENIED", DataFile("osg_delay_on.tilu")} << en
        << "tilu-cli: ttyDENIED: permission denied; the user must be in the group that owns the "
           "port, usually dialout (sudo usermod -aG dialout $USER, then log in again)";
    QTest::newRow("not a serial port") << QStringList{"levels", "--port", "/dev/null"} << en
                                       << "tilu-cli: /dev/null: not a serial port";
    QTest::newRow("other") << QStringList{"levels", "--port", "ttyODD"} << en
                           << "tilu-cli: ttyODD: cannot open the port: Input/output error";
}

void TestCli::portThatCannotBeOpened() {
    QFETCH(QStringList, arguments);
    QFETCH(Language, language);
    QFETCH(QString, cause);
    const TRun result = run(arguments, language);
    QCOMPARE(result.Code, 4);
    QCOMPARE(result.Out, QStringList());
    QCOMPARE(result.Err, QStringList({"COM-порт не выбран!", cause}));
    QCOMPARE(opens_, 1);
}

void TestCli::writeSendsTheFilesFrame_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("OSG factory values")
        << DataFile("osg_delay_on.tilu")
        << Hex("CA D3 B9 88 88 06 32 1E 09 01 37 14 05 00 00 00 00");
    QTest::newRow("LAF") << DataFile("laf_delay_off.tilu")
                         << Hex("CA D3 B9 37 37 0C 4B 2D 55 23 88 19 07 00 00 00 00");
    // Low 8 bits of each held value; a delay of 0 goes out as off, 0x188 as off.
    QTest::newRow("outside the domains")
        << DataFile("outside_domains.tilu")
        << Hex("CA D3 B9 37 37 2C 00 1E A6 FB 88 FF FF 00 00 00 00");
    QTest::newRow("mode 0 is LAF")
        << DataFile("length_255.tilu") << Hex("CA D3 B9 37 88 02 64 05 0A 28 37 05 01 00 00 00 00");
}

void TestCli::writeSendsTheFilesFrame() {
    QFETCH(QString, file);
    QFETCH(QByteArray, frame);
    script_->Steps = {Answer(Hex("CA D3 B9 81"))};
    const TRun result = run({"write", "--port", kPort, file});
    QCOMPARE(result.Code, 0);
    QCOMPARE(result.Out, QStringList{"Запись в эмулятор прошла успешно!"});
    QCOMPARE(result.Err, QStringList());
    QCOMPARE(script_->Written, QList<QByteArray>{frame});
    QCOMPARE(script_->Events, QStringList({"purge", "write", "close"}));
}

void TestCli::repliesAndTheirExitCodes_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<TLineStep>("step");
    QTest::addColumn<int>("code");
    QTest::addColumn<QStringList>("out");
    QTest::addColumn<QStringList>("err");

    const QString write = QStringLiteral("write");
    const QString read = QStringLiteral("read");
    const QString levels = QStringLiteral("levels");
    const QStringList none;

    QTest::newRow("write confirmed by 30 bytes")
        << write << Answer(Hex("CA D3 B9 81") + QByteArray(26, '\x11')) << 0
        << QStringList{"Запись в эмулятор прошла успешно!"} << none;
    QTest::newRow("write not confirmed")
        << write << Answer(Hex("CA D3 B9 80")) << 6 << none
        << QStringList{"***  С эмулятора не пришло подтверждения успешной записи  ***",
                       "tilu-cli: the emulator did not confirm the write (status 80, not 81)"};
    QTest::newRow("write reply of 3 bytes: byte 3 is zero")
        << write << Answer(Hex("CA D3 B9")) << 6 << none
        << QStringList{"***  С эмулятора не пришло подтверждения успешной записи  ***",
                       "tilu-cli: the emulator did not confirm the write (status 00, not 81)"};
    QTest::newRow("no signature") << write << Answer(Hex("AC 3D B9 81")) << 9 << none
                                  << QStringList{
                                         "***  Неверный идентификатор из эмулятора  ***",
                                         "Прием : (4) ->_AC_3D_B9_81",
                                         "tilu-cli: the reply has no frame signature CA D3"};
    QTest::newRow("unknown command byte")
        << read << Answer(Hex("CA D3 05")) << 9 << none
        << QStringList{"***  Неправильный ответ из эмулятора  ***", "Прием : (3) ->_CA_D3_5",
                       "tilu-cli: the reply carries the unknown command byte 05"};
    QTest::newRow("the answer to another command")
        << read << Answer(Hex("CA D3 B9 81")) << 9 << none
        << QStringList{"***  Неправильный ответ из эмулятора  ***", "Прием : (4) ->_CA_D3_B9_81",
                       "tilu-cli: the reply answers command B9, not BA"};
    QTest::newRow("read, bad status and wrong length: status first")
        << read << Answer(Hex("CA D3 BA 80 88")) << 6 << none
        << QStringList{"***  Неправильный ответ от эмулятора!",
                       "tilu-cli: the reply's status is 80, not 81"};
    QTest::newRow("read, 17 bytes")
        << read << Answer(kFactoryOsgReply.left(17)) << 7 << none
        << QStringList{"***  Не правильное кол-во байт от эмулятора - 17",
                       "tilu-cli: the reply has 17 bytes, not 18"};
    QTest::newRow("read, 19 bytes")
        << read << Answer(kFactoryOsgReply + Hex("00")) << 7 << none
        << QStringList{"***  Не правильное кол-во байт от эмулятора - 19",
                       "tilu-cli: the reply has 19 bytes, not 18"};
    QTest::newRow("read, second half 200 ms late: only the first piece counts")
        << read << InPieces(kFactoryOsgReply.left(9), kFactoryOsgReply.mid(9), 200) << 7 << none
        << QStringList{"***  Не правильное кол-во байт от эмулятора - 9",
                       "tilu-cli: the reply has 9 bytes, not 18"};
    QTest::newRow("read, 300 bytes: 256 are taken")
        << read << Answer(kFactoryOsgReply + QByteArray(282, '\0')) << 7 << none
        << QStringList{"***  Не правильное кол-во байт от эмулятора - 256",
                       "tilu-cli: the reply has 256 bytes, not 18"};
    QTest::newRow("levels, bad status")
        << levels << Answer(Hex("CA D3 BB 01") + QByteArray(22, '\0')) << 6 << none
        << QStringList{"***  Неправильный ответ от эмулятора!",
                       "tilu-cli: the reply's status is 01, not 81"};
    QTest::newRow("levels, 25 bytes")
        << levels << Answer(Hex("CA D3 BB 81") + QByteArray(21, '\0')) << 7 << none
        << QStringList{"***  Не правильное кол-во байт от эмулятора - 25",
                       "tilu-cli: the reply has 25 bytes, not 26"};
    QTest::newRow("line error with the reply")
        << read << WithLineError(kFactoryOsgReply, ceFrame | ceOverrun) << 10 << none
        << QStringList{"Ошибка COM-порта", "Framing_Overrun_",
                       "tilu-cli: line error on the port; the reply was not taken"};
    QTest::newRow("device lost") << levels << DeviceLoss() << 10 << none
                                 << QStringList{
                                        "tilu-cli: the port was lost: the adapter was unplugged"};
}

void TestCli::repliesAndTheirExitCodes() {
    QFETCH(QString, command);
    QFETCH(TLineStep, step);
    QFETCH(int, code);
    QFETCH(QStringList, out);
    QFETCH(QStringList, err);
    script_->Steps = {step};
    QStringList arguments{command, "--port", kPort};
    if (command == QStringLiteral("write")) {
        arguments.append(DataFile("osg_delay_on.tilu"));
    }
    const TRun result = run(arguments);
    QCOMPARE(result.Err, err);
    QCOMPARE(result.Code, code);
    QCOMPARE(result.Out, out);
}

void TestCli::portFailsDuringTheExchange_data() {
    QTest::addColumn<bool>("purgeFails");
    QTest::addColumn<QStringList>("events");
    QTest::newRow("purge") << true << QStringList{"purge", "close"};
    QTest::newRow("write") << false << QStringList{"purge", "write", "close"};
}

void TestCli::portFailsDuringTheExchange() {
    QFETCH(bool, purgeFails);
    QFETCH(QStringList, events);
    script_->FailPurge = purgeFails;
    script_->FailWrite = !purgeFails;
    script_->Steps = {Answer(Hex("CA D3 B9 81"))};
    const TRun result = run({"write", "--port", kPort, DataFile("osg_delay_on.tilu")});
    QCOMPARE(result.Code, 10);
    QCOMPARE(result.Out, QStringList());
    QCOMPARE(result.Err, QStringList{"tilu-cli: the port failed: Input/output error"});
    QCOMPARE(script_->Events, events);
}

void TestCli::noAnswerWithinTheWatchdog() {
    QElapsedTimer clock;
    clock.start();
    const TRun result = run({"read", "--port", kPort}, Language::Russian);
    const qint64 took = clock.elapsed();
    QCOMPARE(result.Code, 5);
    QCOMPARE(result.Out, QStringList());
    QCOMPARE(result.Err,
             QStringList({"*** Эмулятор не отвечает !!", "*** Проверьте связь с эмулятором !!",
                          "tilu-cli: эмулятор не ответил за 1500 мс"}));
    QVERIFY2(took >= 1500 && took < 2500, qPrintable(QString::number(took)));
    QCOMPARE(script_->Written, QList<QByteArray>{Hex("CA D3 BA")});
}

void TestCli::replyPiecesWithinTheSettleDelayAreOneReply() {
    // The first byte alone, the rest 20 ms later: read 50 ms after the first, so whole.
    script_->Steps = {InPieces(kFactoryOsgReply.left(1), kFactoryOsgReply.mid(1), 20)};
    const TRun result = run({"read", "--port", kPort});
    QCOMPARE(result.Err, QStringList());
    QCOMPARE(result.Code, 0);
}

void TestCli::verifyReadsBack_data() {
    QTest::addColumn<QByteArray>("readBack");
    QTest::addColumn<int>("code");
    QTest::addColumn<QStringList>("out");
    QTest::addColumn<QStringList>("err");

    const QStringList written{"Запись в эмулятор прошла успешно!"};
    QTest::newRow("the same") << Hex("CA D3 BA 81 37 37 0C 4B 2D 55 23 88 19 07 00 00 00 00") << 0
                              << written +
                                     QStringList{
                                         "Данные с эмулятора загружены!",
                                         "Verified: the emulator holds the settings written."}
                              << QStringList{};
    // 0x00 for "no delay" means the same as the 0x37 written.
    QTest::newRow("off as 00") << Hex("CA D3 BA 81 37 00 0C 4B 2D 55 23 88 19 07 00 00 00 00") << 0
                               << written +
                                      QStringList{
                                          "Данные с эмулятора загружены!",
                                          "Verified: the emulator holds the settings written."}
                               << QStringList{};
    QTest::newRow("lower bound and multiple response differ")
        << Hex("CA D3 BA 81 37 37 0C 4B 2D 55 28 37 19 07 00 00 00 00") << 1
        << written + QStringList{"Данные с эмулятора загружены!"}
        << QStringList{"tilu-cli: the emulator holds other settings than were written (written "
                       "-> read back):",
                       "Нижняя граница (LowerBound): 35 (0.35 V) -> 40 (0.4 V)",
                       "Множественный отклик сигнала (MultipleResponse): 136 (включён) -> 55 "
                       "(выключен)"};
    QTest::newRow("mode differs")
        << Hex("CA D3 BA 81 88 37 0C 4B 2D 55 23 88 19 07 00 00 00 00") << 1
        << written + QStringList{"Данные с эмулятора загружены!"}
        << QStringList{"tilu-cli: the emulator holds other settings than were written (written "
                       "-> read back):",
                       "Режим (Mode): 55 (LAF) -> 136 (OSG)"};
    QTest::newRow("read back of the wrong length")
        << Hex("CA D3 BA 81 37 37 0C 4B 2D 55 23 88 19 07 00 00 00") << 7 << written
        << QStringList{"***  Не правильное кол-во байт от эмулятора - 17",
                       "tilu-cli: the reply has 17 bytes, not 18"};
}

void TestCli::verifyReadsBack() {
    QFETCH(QByteArray, readBack);
    QFETCH(int, code);
    QFETCH(QStringList, out);
    QFETCH(QStringList, err);
    script_->Steps = {Answer(Hex("CA D3 B9 81")), Answer(readBack)};
    const TRun result = run({"write", "--verify", "--port", kPort, DataFile("laf_delay_off.tilu")});
    QCOMPARE(result.Err, err);
    QCOMPARE(result.Code, code);
    QCOMPARE(result.Out, out);
    QCOMPARE(script_->Written,
             QList<QByteArray>(
                 {Hex("CA D3 B9 37 37 0C 4B 2D 55 23 88 19 07 00 00 00 00"), Hex("CA D3 BA")}));
    QCOMPARE(script_->Events, QStringList({"purge", "write", "purge", "write", "close"}));
}

void TestCli::readShowsTheSettings() {
    script_->Steps = {Answer(kFactoryOsgReply)};
    const TRun result = run({"read", "--port", kPort});
    QCOMPARE(result.Err, QStringList());
    QCOMPARE(result.Code, 0);
    QCOMPARE(result.Out, QStringList{"Данные с эмулятора загружены!"} + kFactoryOsgTable);
    QCOMPARE(script_->Written, QList<QByteArray>{Hex("CA D3 BA")});
}

void TestCli::levelsPrintsTwelveLines() {
    script_->Steps = {Answer(Hex("CA D3 BB 81 01 F4 00 64 FF FF 00 00 12 34 05 "
                                 "0B B8 27 10 00 01 80 00 56 78 AB"))};
    const TRun result = run({"levels", "--port", kPort});
    QCOMPARE(result.Err, QStringList());
    QCOMPARE(result.Code, 0);
    // The channel letters are Cyrillic.
    QCOMPARE(
        result.Out,
        QStringList({"Канал А", "-> Уровень входного сигнала - 500 мВ",
                     "-> Уровень опорного входа - 100 мВ",
                     "-> Уровень выходного сигнала - 65535 мВ", "-> Уровень опорного выхода - 0 мВ",
                     "-> Статус канала А - 05", "Канал В", "-> Уровень входного сигнала - 3000 мВ",
                     "-> Уровень опорного входа - 10000 мВ", "-> Уровень выходного сигнала - 1 мВ",
                     "-> Уровень опорного выхода - 32768 мВ", "-> Статус канала В - AB"}));
    QCOMPARE(script_->Written, QList<QByteArray>{Hex("CA D3 BB")});
}

void TestCli::readSaveWritesTheConfiguratorsRecord() {
    const QString path = tempPath("saved.tilu");
    QVERIFY(WriteAll(path, QByteArray(500, 'x'))); // replaced as a whole
    script_->Steps = {Answer(Hex("CA D3 BA 81 37 88 0C 4B 2D 55 23 88 19 07 00 00 00 00"))};
    const TRun result = run({"read", "--port", kPort, "--save", path, "--description", "Стенд №2"});
    QCOMPARE(result.Err, QStringList());
    QCOMPARE(result.Code, 0);
    QCOMPARE(
        result.Out,
        QStringList({"Данные с эмулятора загружены!", Row("Режим", "55", "LAF"),
                     Row("Задержка сигнала", "136", "есть задержка"),
                     Row("Скорость нарастания сигнала", "12", "0,1 V / 1.2 Sec"),
                     Row("Смещение выходных напряжений", "75", "0.25 V"),
                     Row("Время возникновение отклика", "45", "4.5 Sec"),
                     Row("Верхняя граница", "85", "-0.15 V"), Row("Нижняя граница", "35", "0.35 V"),
                     Row("Множественный отклик сигнала", "136", "включён"),
                     Row("Длительность положительного отклика", "25", "2.5 Sec"),
                     Row("Длительность отрицательного отклика", "7", "0.7 Sec"),
                     "Записан файл -> saved.tilu-> 1 Jan 2000 12:00:00", " -> Стенд №2",
                     " ->  режим LAF", "Файл настроек  saved.tilu  записан успешно!"}));
    // LAF, delay on, the nine values, zero reserved bytes, 1 January 2000 12:00 (36526.5),
    // 8 characters in Windows-1251, zeros behind.
    const QByteArray expected = Hex("37000000 88000000 0C000000 4B000000 2D000000 55000000 "
                                    "23000000 88000000 19000000 07000000") +
                                QByteArray(24, '\0') + Hex("00000000 D0D5E140") + Hex("08") +
                                Hex("D1F2E5EDE420B932") + QByteArray(242, '\0') +
                                QByteArray(5, '\0');
    QCOMPARE(expected.size(), 328);
    QCOMPARE(ReadAll(path), expected);
    QCOMPARE(QDir(tempDir_->path()).entryList(QDir::Files), QStringList{"saved.tilu"});
}

void TestCli::readSaveKeepsTheFirst250Characters() {
    const QString path = tempPath("long.tilu");
    for (const bool given : {false, true}) {
        script_->Steps = {Answer(kFactoryOsgReply)};
        QStringList arguments{"read", "--port", kPort, "--save", path};
        if (given) {
            arguments << "--description" << QString(300, QChar(0x0416)); // Ж
        }
        const TRun result = run(arguments);
        QCOMPARE(result.Code, 0);
        const QByteArray record = ReadAll(path);
        QCOMPARE(record.size(), 328);
        const QByteArray description =
            given ? Hex("FA") + QByteArray(250, '\xC6')
                  : Hex("0F CD EE E2 E0 FF 20 ED E0 F1 F2 F0 EE E9 EA E0"); // Новая настройка
        QCOMPARE(record.mid(72, description.size()), description);
        QCOMPARE(result.Out.value(12), " -> " + (given ? QString(250, QChar(0x0416))
                                                       : QStringLiteral("Новая настройка")));
    }
}

void TestCli::readSaveToAnUnwritablePath() {
    const QString path = tempPath("no-such-folder/saved.tilu");
    script_->Steps = {Answer(kFactoryOsgReply)};
    const TRun result = run({"read", "--port", kPort, "--save", path});
    QCOMPARE(result.Code, 8);
    QCOMPARE(result.Out, QStringList{"Данные с эмулятора загружены!"} + kFactoryOsgTable);
    QCOMPARE(result.Err.size(), 2);
    QCOMPARE(result.Err.value(0), "Ошибка при записи файла!");
    QVERIFY2(result.Err.value(1).startsWith("tilu-cli: " + path + ": cannot write: "),
             qPrintable(result.Err.value(1)));
    QVERIFY(!QFileInfo::exists(path));
    QCOMPARE(QDir(tempDir_->path()).entryList(QDir::Files), QStringList());
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
